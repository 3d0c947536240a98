#include "ftp/IdStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "project/FileIO.h"

namespace brindle {

TIdFileStream::TIdFileStream(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw EFOpenError(path, errno);
  struct stat st;
  int err = ::fstat(fd_, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (err != 0) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError(path, err);
  }
}

TIdFileStream::~TIdFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TIdFileStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) throw EFOpenError(path_, errno);
  return static_cast<int64_t>(st.st_size);
}

size_t TIdFileStream::Read(char* buf, size_t count) {
  for (;;) {
    ssize_t n = ::pread(fd_, buf, count, static_cast<off_t>(pos_));
    if (n >= 0) {
      pos_ += n;
      return static_cast<size_t>(n);
    }
    if (errno != EINTR) throw EFOpenError(path_, errno);
  }
}

size_t TIdMemoryStream::Read(char* buf, size_t count) {
  if (pos_ >= Size()) return 0;
  size_t n = std::min(count, static_cast<size_t>(Size() - pos_));
  std::memcpy(buf, bytes_.data() + pos_, n);
  pos_ += static_cast<int64_t>(n);
  return n;
}

}  // namespace brindle
