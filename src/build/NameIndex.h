// A case-insensitive index of names (ASCII A-Z folded, every other byte
// exact) to the position of their first occurrence, for lookups that must
// not allocate or depend on the number of names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class NameIndex {
 public:
  // Forgets every name.
  void Clear();
  // Adds `name` at `position` unless an equal name is already indexed (the
  // first in stored order wins).
  void Add(std::string_view name, uint32_t position);
  // The position of `name`, or -1.
  int64_t Find(std::string_view name) const;
  size_t Size() const { return names_.size(); }

 private:
  static uint64_t Hash(std::string_view name);
  void Grow();

  struct Slot {
    uint32_t entry = 0;  // 1 + index into names_; 0: empty
    uint32_t hash = 0;
  };
  std::vector<Slot> slots_;
  std::vector<std::string> names_;  // folded
  std::vector<uint32_t> positions_;
};

}  // namespace brindle
