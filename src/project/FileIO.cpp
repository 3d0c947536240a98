#include "project/FileIO.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

std::string SystemErrorText(int err) {
  char buf[256];
  // GNU strerror_r returns the text, possibly not in buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  return text ? text : "Unknown error";
}

EFOpenError::EFOpenError(const std::string& path, int err)
    : std::runtime_error("Cannot open file \"" + path + "\". " + SystemErrorText(err)), err_(err) {}

EFCreateError::EFCreateError(const std::string& path, int err)
    : std::runtime_error("Cannot create file \"" + path + "\". " + SystemErrorText(err)), err_(err) {}

namespace {

// Owns one file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { if (fd_ >= 0) ::close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result (a deferred write error shows here).
  int Close() { int r = ::close(fd_); fd_ = -1; return r; }
 private:
  int fd_;
};

// Writes all of `bytes`; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) { errno = EIO; return false; }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string ReadFileBytes(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw EFOpenError(path, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw EFOpenError(path, errno);
  if (S_ISDIR(st.st_mode)) throw EFOpenError(path, EISDIR);
  std::string out;
  if (st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EFOpenError(path, errno);
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) throw EFCreateError(path, errno);
  if (!WriteAll(fd.get(), bytes)) throw EFCreateError(path, errno);
  if (fd.Close() != 0) throw EFCreateError(path, errno);
}

std::string ResolveLink(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string target(real);
  std::free(real);
  return target;
}

void WriteFileAtomically(const std::string& linkOrPath, std::string_view bytes, mode_t mode, bool exactMode,
                         const std::function<void(const std::string& target)>& beforeCommit) {
  const std::string path = ResolveLink(linkOrPath);
  struct stat old;
  bool replacing = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  std::string tmp = FolderPart(path) + "." + FileNamePart(path) + ".XXXXXX";
  int raw = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (raw < 0) throw EFCreateError(path, errno);
  Fd fd(raw);
  auto fail = [&](int err) {
    ::unlink(tmp.c_str());
    throw EFCreateError(path, err);
  };
  mode_t want = exactMode ? mode : replacing ? (old.st_mode & 07777) : [&] {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(mode & ~mask);
  }();
  if (::fchmod(fd.get(), want) != 0) fail(errno);
  if (!WriteAll(fd.get(), bytes)) fail(errno);
  if (::fsync(fd.get()) != 0) fail(errno);
  if (fd.Close() != 0) fail(errno);
  if (beforeCommit) {
    try {
      beforeCommit(path);
    } catch (...) {
      ::unlink(tmp.c_str());
      throw;
    }
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) fail(errno);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string FolderPart(std::string_view path) {
  size_t p = path.rfind('/');
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string FileNamePart(std::string_view path) {
  size_t p = path.rfind('/');
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

}  // namespace brindle
