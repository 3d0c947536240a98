#include "ftp/FtpSettings.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

#include "project/FileIO.h"

namespace brindle {

std::vector<std::string> SplitSettingsLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

std::vector<std::string> ReadSettingsFile(const std::string& path) {
  return SplitSettingsLines(ReadFileBytes(path));
}

void ApplySettingsLines(TFtpSettings& settings, const std::vector<std::string>& lines) {
  if (lines.size() >= 1) settings.Host = lines[0];
  if (lines.size() >= 2) settings.UserId = lines[1];
  if (lines.size() >= 3) settings.Password = lines[2];
}

std::string FormatSettingsFile(const TFtpSettings& settings) {
  return settings.Host + "\r\n" + settings.UserId + "\r\n" + settings.Password + "\r\n";
}

void WriteSettingsFile(const std::string& path, const TFtpSettings& settings) {
  WriteFileAtomically(path, FormatSettingsFile(settings), 0600, /*exactMode=*/true);
}

std::string SettingsTargetName(const std::string& chosen) {
  std::string name = FileNamePart(chosen);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = name.substr(dot);
    for (char& c : ext)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (ext == ".txt") return chosen;
  }
  return chosen + ".txt";
}

std::string AbsoluteSettingsPath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::string cwd(PATH_MAX, '\0');
  while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
    // Without a current folder the path cannot be made absolute; keep it.
    if (errno != ERANGE) return path;
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(cwd.find('\0'));
  if (cwd.empty() || cwd.back() != '/') cwd += '/';
  return cwd + path;
}

void LoadRememberedSettings(TFtpSettings& settings, TRegistry& registry) {
  std::string path;
  if (registry.OpenKey(/*canCreate=*/false)) {
    try {
      path = registry.ReadString(kFtpSettingsValue);
    } catch (...) {
      registry.CloseKey();
      throw;
    }
    registry.CloseKey();
  }
  if (path.empty()) return;
  ApplySettingsLines(settings, ReadSettingsFile(path));
}

namespace {

// Writes `path` to the store when the store exists; never creates it.
void Remember(TRegistry& registry, const std::string& path) {
  if (!registry.OpenKey(/*canCreate=*/false)) return;
  try {
    registry.WriteString(kFtpSettingsValue, path);
  } catch (...) {
    registry.CloseKey();
    throw;
  }
  registry.CloseKey();
}

}  // namespace

std::string LoadSettingsFrom(TFtpSettings& settings, const std::string& chosen,
                             TRegistry& registry) {
  std::string path = AbsoluteSettingsPath(chosen);
  Remember(registry, path);
  ApplySettingsLines(settings, ReadSettingsFile(path));
  return path;
}

std::string SaveSettingsTo(const TFtpSettings& settings, const std::string& chosen,
                           TRegistry& registry) {
  std::string target = AbsoluteSettingsPath(SettingsTargetName(chosen));
  Remember(registry, target);
  WriteSettingsFile(target, settings);
  return target;
}

}  // namespace brindle
