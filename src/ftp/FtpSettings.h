// The FTP settings: host, user ID and password of the one server pages are
// uploaded to, the plain-text settings file they are saved in, and the
// settings store's "Ftp Settings" value that remembers which file was used
// last.
//
// Settings file: three lines (host, user ID, password), each ended by CR LF,
// in plain text. Reading takes the whole file as one text, stops at the first
// NUL byte, splits at CR LF, lone CR and lone LF, and uses only the first
// three lines, untrimmed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ftp/Registry.h"

namespace brindle {

// The settings as the user typed them (no trimming, no validation; each may
// be empty). Owned by the caller for the whole run; the upload reads it
// afresh each time. The texts are single lines: a CR, LF or NUL inside one
// would not survive a save and load.
struct TFtpSettings {
  std::string Host;
  std::string UserId;
  std::string Password;
};

// The store value naming the settings file used last.
inline constexpr const char* kFtpSettingsValue = "Ftp Settings";

// The lines of a settings file's text. A final line end adds no empty line;
// "" gives no lines.
std::vector<std::string> SplitSettingsLines(std::string_view text);

// Reads the file at `path` into lines. Throws EFOpenError.
std::vector<std::string> ReadSettingsFile(const std::string& path);

// Fills Host, UserId, Password from lines 1, 2, 3 as far as they exist; a
// field whose line is missing keeps its content.
void ApplySettingsLines(TFtpSettings& settings, const std::vector<std::string>& lines);

// The three texts, each followed by CR LF.
std::string FormatSettingsFile(const TFtpSettings& settings);

// Replaces the file at `path` atomically with the three lines, mode 0600
// (it holds a password in plain text). Throws EFCreateError.
void WriteSettingsFile(const std::string& path, const TFtpSettings& settings);

// The name "Save To..." writes: `chosen` itself when its extension (from the
// last '.' of the file-name part) is ".txt" in any letter case, otherwise
// `chosen` + ".txt" ("a" -> "a.txt", "a.htm" -> "a.htm.txt").
std::string SettingsTargetName(const std::string& chosen);

// `path` made absolute against the current folder (no other normalisation),
// so that a remembered path still names the same file from elsewhere.
std::string AbsoluteSettingsPath(const std::string& path);

// Start-up: opens the store without creating it; if it opened and names a
// file, reads that file into `settings`. A missing store or an empty value
// loads nothing. Throws ERegistryException "Invalid data type for 'Ftp
// Settings'" or EFOpenError for the remembered file; `settings` is then
// unchanged (the caller shows the message and starts normally).
void LoadRememberedSettings(TFtpSettings& settings, TRegistry& registry);

// "Load...": remembers the (absolute) path in the store if the store exists
// -- before reading, so a file that fails to open is still remembered --
// then reads the file into `settings`. Throws ERegistryException "Failed to
// set data for 'Ftp Settings'" (nothing read) or EFOpenError (`settings`
// unchanged). Returns the absolute path.
std::string LoadSettingsFrom(TFtpSettings& settings, const std::string& chosen,
                             TRegistry& registry);

// "Save To...": applies the ".txt" rule, remembers the resulting (absolute)
// name in the store if the store exists, then writes the file. Throws
// ERegistryException (nothing written) or EFCreateError. Returns the name
// written, which is the name remembered.
std::string SaveSettingsTo(const TFtpSettings& settings, const std::string& chosen,
                           TRegistry& registry);

}  // namespace brindle
