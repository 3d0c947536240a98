#include "build/NameIndex.h"

namespace brindle {

namespace {

inline unsigned char Fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
}

}  // namespace

uint64_t NameIndex::Hash(std::string_view name) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the folded bytes
  for (char c : name) h = (h ^ Fold(c)) * 1099511628211ull;
  return h ^ (h >> 29);
}

void NameIndex::Clear() {
  slots_.clear();
  names_.clear();
  positions_.clear();
}

void NameIndex::Grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
  size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (!s.entry) continue;
    size_t i = s.hash & mask;
    while (slots_[i].entry) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

void NameIndex::Add(std::string_view name, uint32_t position) {
  if (Find(name) >= 0) return;
  if ((names_.size() + 1) * 2 > slots_.size()) Grow();
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(Fold(c));
  uint32_t h = static_cast<uint32_t>(Hash(name));
  names_.push_back(std::move(folded));
  positions_.push_back(position);
  size_t mask = slots_.size() - 1;
  size_t i = h & mask;
  while (slots_[i].entry) i = (i + 1) & mask;
  slots_[i] = Slot{static_cast<uint32_t>(names_.size()), h};
}

int64_t NameIndex::Find(std::string_view name) const {
  if (slots_.empty()) return -1;
  uint32_t h = static_cast<uint32_t>(Hash(name));
  size_t mask = slots_.size() - 1;
  for (size_t i = h & mask; slots_[i].entry; i = (i + 1) & mask) {
    if (slots_[i].hash != h) continue;
    const std::string& stored = names_[slots_[i].entry - 1];
    if (stored.size() != name.size()) continue;
    size_t k = 0;
    while (k < name.size() && static_cast<unsigned char>(stored[k]) == Fold(name[k])) ++k;
    if (k == name.size()) return positions_[slots_[i].entry - 1];
  }
  return -1;
}

}  // namespace brindle
