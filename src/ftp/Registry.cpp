#include "ftp/Registry.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "project/FileIO.h"

namespace brindle {

namespace {

const char kStringTag[] = "sz:";

bool IsEscaped(unsigned char c) { return c < 0x20 || c == 0x7F || c == '\\' || c == '='; }

std::string Escape(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (IsEscaped(c)) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes Escape; nullopt when a backslash starts no valid escape. Other raw
// bytes are taken as they stand, so a hand-edited value need not escape '='.
std::optional<std::string> Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
    } else if (i + 1 < s.size() && s[i + 1] == '\\') {
      out += '\\';
      i += 1;
    } else if (i + 3 < s.size() && s[i + 1] == 'x' && HexDigit(s[i + 2]) >= 0 &&
               HexDigit(s[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// One line of the store, without its line end.
struct Line {
  std::string text;
  std::optional<std::string> name;  // set when the line is a value line
};

std::vector<Line> ParseStore(const std::string& bytes) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(pos, end - pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    pos = end + 1;
    Line line{std::move(text), std::nullopt};
    size_t eq = line.text.find('=');
    if (eq != std::string::npos && eq > 0 && line.text[0] != '#') {
      line.name = Unescape(std::string_view(line.text).substr(0, eq));
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

const Line* FindValue(const std::vector<Line>& lines, const std::string& name) {
  for (const Line& l : lines)
    if (l.name && SameName(*l.name, name)) return &l;
  return nullptr;
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  // Create each missing ancestor in turn, like mkdir -p.
  for (size_t p = folder.find('/', 1); ; p = folder.find('/', p + 1)) {
    std::string part = folder.substr(0, p == std::string::npos ? folder.size() : p);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (p == std::string::npos || p + 1 >= folder.size()) break;
  }
  struct stat st;
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string RegistryStorePath() {
  const char* over = std::getenv("BRINDLE_CONFIG");
  if (over && *over) return over;
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string h = home && *home ? home : "";
    if (h.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
    }
    if (h.empty()) return "";
    base = h + "/.config";
  }
  return base + "/Vantorel/Brindle 3.conf";
}

TRegistry::TRegistry(std::string storePath) : path_(std::move(storePath)) {}

bool TRegistry::OpenKey(bool canCreate) {
  open_ = false;
  if (path_.empty()) return false;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) {
    if (errno != ENOENT || !canCreate) return false;
    if (!MakeFolders(FolderPart(path_))) return false;
    // O_EXCL: a store another process created meanwhile is kept as it is.
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return false;
    if (fd >= 0 && ::close(fd) != 0) return false;
    if (::stat(path_.c_str(), &st) != 0) return false;
  }
  if (!S_ISREG(st.st_mode)) return false;
  // Full access: the file must be readable and writable, and its folder must
  // take the temporary file and the rename that replace it.
  std::string folder = FolderPart(path_);
  if (::access(path_.c_str(), R_OK | W_OK) != 0) return false;
  if (::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0) return false;
  open_ = true;
  return true;
}

std::string TRegistry::ReadString(const std::string& name) const {
  if (!open_) throw std::logic_error("TRegistry::ReadString on a closed key");
  std::string bytes;
  try {
    bytes = ReadFileBytes(path_);
  } catch (const EFOpenError&) {
    return "";
  }
  std::vector<Line> lines = ParseStore(bytes);
  const Line* l = FindValue(lines, name);
  if (!l) return "";
  std::string_view rhs = std::string_view(l->text).substr(l->text.find('=') + 1);
  std::optional<std::string> value;
  if (rhs.substr(0, sizeof kStringTag - 1) == kStringTag) value = Unescape(rhs.substr(sizeof kStringTag - 1));
  if (!value) throw ERegistryException("Invalid data type for '" + name + "'");
  return *value;
}

bool TRegistry::ValueExists(const std::string& name) const {
  if (!open_) throw std::logic_error("TRegistry::ValueExists on a closed key");
  try {
    std::vector<Line> lines = ParseStore(ReadFileBytes(path_));
    return FindValue(lines, name) != nullptr;
  } catch (const EFOpenError&) {
    return false;
  }
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  if (!open_) throw std::logic_error("TRegistry::WriteString on a closed key");
  const std::string failed = "Failed to set data for '" + name + "'";
  std::string bytes;
  try {
    bytes = ReadFileBytes(path_);
  } catch (const EFOpenError&) {
    throw ERegistryException(failed);  // the key is gone: nothing to write into
  }
  std::vector<Line> lines = ParseStore(bytes);
  std::string entry = Escape(name) + "=" + kStringTag + Escape(value);
  std::string out;
  bool placed = false;
  for (const Line& l : lines) {
    if (l.name && SameName(*l.name, name)) {
      if (placed) continue;  // a later duplicate would contradict the new value
      out += entry;
      placed = true;
    } else {
      out += l.text;
    }
    out += '\n';
  }
  if (!placed) out += entry + '\n';
  try {
    WriteFileAtomically(path_, out, 0600);
  } catch (const EFCreateError&) {
    throw ERegistryException(failed);
  }
}

}  // namespace brindle
