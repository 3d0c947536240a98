// The byte sources a connection can send: a file read in place, or bytes in
// memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brindle {

class TIdStream {
 public:
  virtual ~TIdStream() = default;
  virtual int64_t Size() = 0;
  virtual int64_t Position() = 0;
  virtual void SetPosition(int64_t pos) = 0;
  // Reads up to `count` bytes at the position and advances it; 0 at the end.
  virtual size_t Read(char* buf, size_t count) = 0;
};

// A file opened for reading only (other readers and writers are not locked
// out). Raises EFOpenError "Cannot open file "<path>". <reason>" when it
// cannot be opened or read.
class TIdFileStream : public TIdStream {
 public:
  explicit TIdFileStream(const std::string& path);
  ~TIdFileStream() override;
  TIdFileStream(const TIdFileStream&) = delete;
  TIdFileStream& operator=(const TIdFileStream&) = delete;

  int64_t Size() override;
  int64_t Position() override { return pos_; }
  void SetPosition(int64_t pos) override { pos_ = pos; }
  size_t Read(char* buf, size_t count) override;

 private:
  std::string path_;
  int fd_ = -1;
  int64_t pos_ = 0;
};

// Bytes held in memory (not owned: `bytes` must outlive the stream).
class TIdMemoryStream : public TIdStream {
 public:
  explicit TIdMemoryStream(const std::string& bytes) : bytes_(bytes) {}
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  int64_t Position() override { return pos_; }
  void SetPosition(int64_t pos) override { pos_ = pos; }
  size_t Read(char* buf, size_t count) override;

 private:
  const std::string& bytes_;
  int64_t pos_ = 0;
};

}  // namespace brindle
