// The application's settings store: the one key SOFTWARE\Vantorel\Brindle 3
// with its named string values ("Ftp Settings", "Default Editor"), kept in
// one plain-text file so that it survives between runs.
//
// The file existing is the key existing. Parts of the application that must
// never create the key open it with `canCreate` false and silently skip their
// read or write when that fails.
//
// File format (UTF-8 agnostic: names and values are bytes):
//   - One entry per line, lines end with LF (a CR before the LF is ignored).
//   - A value line is   <name>=sz:<data>
//     where <name> and <data> are escaped: "\\" stands for a backslash and
//     "\xHH" (two hex digits) for any byte; the writer escapes backslash,
//     '=', every byte below 0x20 and 0x7F, so CR, LF and NUL survive.
//   - A line whose name parses but whose right-hand side is not "sz:" followed
//     by well-formed escaped data is a value of the wrong shape: reading it
//     fails with "Invalid data type for '<name>'"; writing replaces it.
//   - Every other line (blank, "# comment", anything unparsable) is kept
//     unchanged when the file is rewritten.
//   - Value names compare ignoring ASCII case; the first line with a name
//     wins, and a write drops later duplicates.
// Writes replace the whole file atomically (temporary file + rename), so a
// crash never leaves a half-written store.
#pragma once

#include <stdexcept>
#include <string>

namespace brindle {

// A failed read or write of a value. Messages: "Invalid data type for '%s'",
// "Failed to set data for '%s'" (the value name in place of %s).
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the store lives: $BRINDLE_CONFIG when set and non-empty, else
// $XDG_CONFIG_HOME/Vantorel/Brindle 3.conf (an unset, empty or relative
// XDG_CONFIG_HOME means ~/.config). Returns "" when no home folder is known.
std::string RegistryStorePath();

// One handle on the store. Not thread-safe; the GUI thread owns it.
// Every operation reads the file afresh, so two handles (or two processes)
// see each other's writes.
class TRegistry {
 public:
  explicit TRegistry(std::string storePath = RegistryStorePath());
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Opens the key for reading and writing. Without `canCreate`, fails (false)
  // when the store file is absent; with it, creates an empty store and its
  // folders (0700) first. Also false when the store is not a regular file
  // or cannot be read and replaced. Never throws.
  bool OpenKey(bool canCreate);
  void CloseKey() { open_ = false; }
  bool IsOpen() const { return open_; }
  const std::string& StorePath() const { return path_; }

  // The value `name`; "" when absent (or when the store vanished since
  // OpenKey). Throws ERegistryException "Invalid data type for '<name>'"
  // when the value's line has the wrong shape. Requires IsOpen().
  std::string ReadString(const std::string& name) const;
  // True when a line for `name` exists, whatever its shape.
  bool ValueExists(const std::string& name) const;
  // Sets `name` to `value`, replacing the file atomically. Throws
  // ERegistryException "Failed to set data for '<name>'" when the store
  // cannot be read or replaced (the old file then stays as it was).
  // Requires IsOpen().
  void WriteString(const std::string& name, const std::string& value);

 private:
  std::string path_;
  bool open_ = false;
};

}  // namespace brindle
