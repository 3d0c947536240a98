// Whole-file reads and writes shared by the project file, the page build and
// the FTP settings. Every system call is checked; failures raise the two file
// errors whose texts the user sees.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <functional>
#include <sys/types.h>

namespace brindle {

// "Cannot open file "<path>". <reason>"
class EFOpenError : public std::runtime_error {
 public:
  EFOpenError(const std::string& path, int err);
  int SystemError() const { return err_; }
 private:
  int err_;
};

// "Cannot create file "<path>". <reason>"
class EFCreateError : public std::runtime_error {
 public:
  EFCreateError(const std::string& path, int err);
  int SystemError() const { return err_; }
 private:
  int err_;
};

// The system's text for an errno value (strerror, thread-safe).
std::string SystemErrorText(int err);

// Reads the whole file at `path`. Throws EFOpenError when it cannot be opened
// or read.
std::string ReadFileBytes(const std::string& path);

// Creates `path` or truncates it, then writes `bytes`. Throws EFCreateError
// when the file cannot be created or fully written (a short write is an
// error, not a silent truncation).
void WriteFileBytes(const std::string& path, std::string_view bytes);

// Replaces `path` with `bytes` without ever leaving a half-written file under
// that name: writes a temporary file beside `path`, flushes and syncs it,
// calls `beforeCommit` with the path being replaced (which may, say, copy
// the old file to a backup), then renames the temporary file over it. When
// `path` is a symbolic link, the file it leads to is the one replaced (the
// link stays a link); a dangling link is replaced itself. A new file gets `mode` (subject to
// the umask unless `exactMode`); a replaced file keeps its old permission
// bits unless `exactMode` is set. On any failure the temporary file is
// removed, `path` is left as it was, and EFCreateError naming `path` is
// thrown (an exception from `beforeCommit` passes through unchanged).
void WriteFileAtomically(const std::string& path, std::string_view bytes,
                         mode_t mode = 0666, bool exactMode = false,
                         const std::function<void(const std::string& target)>& beforeCommit = {});

// `path`, or the file it leads to when it is a symbolic link that resolves.
std::string ResolveLink(const std::string& path);

// True when a file (of any kind) exists at `path`.
bool FileExists(const std::string& path);

// Everything up to and including the last '/', or "" when there is none.
std::string FolderPart(std::string_view path);
// Everything after the last '/'.
std::string FileNamePart(std::string_view path);

}  // namespace brindle
