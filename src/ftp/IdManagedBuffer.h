// The input queue of a connection: bytes received and not yet consumed.
#pragma once

#include <cstddef>
#include <string>

namespace brindle {

// First in, first out. Consuming advances a read offset; the consumed prefix
// is dropped only once it reaches 32768 bytes (or everything is consumed), so
// reading many short lines does not move the rest each time.
class TIdManagedBuffer {
 public:
  static constexpr size_t kCompactAt = 32768;

  size_t Size() const { return data_.size() - head_; }
  // The unconsumed bytes; valid until the next change.
  const char* Data() const { return data_.data() + head_; }
  void Append(const char* bytes, size_t count) { data_.append(bytes, count); }
  // Removes and returns the first `count` bytes; EIdNotEnoughDataInBuffer
  // when fewer are queued.
  std::string Extract(size_t count);
  void Remove(size_t count);
  void Clear();
  // The consumed prefix still held (for tests of the compaction rule).
  size_t Offset() const { return head_; }

 private:
  std::string data_;
  size_t head_ = 0;
};

}  // namespace brindle
