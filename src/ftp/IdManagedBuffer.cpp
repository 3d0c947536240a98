#include "ftp/IdManagedBuffer.h"

#include "ftp/IdException.h"

namespace brindle {

std::string TIdManagedBuffer::Extract(size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
  std::string out(Data(), count);
  Remove(count);
  return out;
}

void TIdManagedBuffer::Remove(size_t count) {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
  head_ += count;
  if (head_ == data_.size()) {
    Clear();
  } else if (head_ >= kCompactAt) {
    data_.erase(0, head_);
    head_ = 0;
  }
}

void TIdManagedBuffer::Clear() {
  data_.clear();
  head_ = 0;
}

}  // namespace brindle
