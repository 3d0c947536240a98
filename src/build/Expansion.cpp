#include "build/Expansion.h"

#include <cstring>

#include "project/Project.h"
#include "project/Records.h"
#include "scan/Reader.h"

namespace brindle {

namespace {

const std::string kEmpty;

}  // namespace

TExpander::TExpander(Project& project, TReader& reader) : project_(project), reader_(reader) {}

void TExpander::IndexPage(int32_t pageIndex) {
  if (indexedPage_ == pageIndex) return;
  pageValues_.Clear();
  declared_.Clear();
  const TPage& page = (*pages_)[static_cast<size_t>(pageIndex)];
  for (size_t i = 0; i < page.Values.size(); ++i) pageValues_.Add(page.Values[i].Name, static_cast<uint32_t>(i));
  // Every template whose name matches counts, not only the first.
  for (const TTemplate& t : project_.GetTemps())
    if (SameName(t.Name, page.Template))
      for (const std::string& lv : t.LocalVars) declared_.Add(lv, 0);
  indexedPage_ = pageIndex;
}

const std::string* TExpander::Lookup(std::string_view name, int32_t pageIndex) {
  if (!pages_) pages_ = &project_.GetPages();
  if (pageIndex >= 0 && static_cast<size_t>(pageIndex) < pages_->size()) {
    IndexPage(pageIndex);
    if (int64_t at = pageValues_.Find(name); at >= 0) {
      // Only globals can match inside, so this nests one level at most.
      const std::string& stored = (*pages_)[static_cast<size_t>(pageIndex)].Values[static_cast<size_t>(at)].Value;
      scratch_ = ExpandText(stored, -1);
      return &scratch_;
    }
    if (declared_.Find(name) >= 0) return &kEmpty;
  }
  if (!vars_) {
    vars_ = &project_.GetVars();
    for (size_t i = 0; i < vars_->size(); ++i) globals_.Add((*vars_)[i].Name, static_cast<uint32_t>(i));
  }
  if (int64_t at = globals_.Find(name); at >= 0) return &(*vars_)[static_cast<size_t>(at)].Value;
  return nullptr;
}

bool TExpander::FindVariableValue(std::string_view name, std::string& value, int32_t pageIndex) {
  const std::string* found = Lookup(name, pageIndex);
  if (!found) return false;
  value = *found;
  return true;
}

ChunkWriter::ChunkWriter(std::function<void(std::string_view)> sink, size_t capacity)
    : sink_(std::move(sink)), buf_(capacity < 64 ? 64 : capacity, '\0'), cur_(buf_.data()),
      end_(buf_.data() + buf_.size()) {}

void ChunkWriter::Spill(const char* p, size_t n) {
  size_t room = static_cast<size_t>(end_ - cur_);
  std::memcpy(cur_, p, room);
  cur_ = end_;
  Flush();
  p += room;
  n -= room;
  if (n >= buf_.size()) {
    sink_(std::string_view(p, n));
  } else {
    std::memcpy(cur_, p, n);
    cur_ += n;
  }
}

void ChunkWriter::Flush() {
  if (cur_ != buf_.data()) sink_(std::string_view(buf_.data(), static_cast<size_t>(cur_ - buf_.data())));
  cur_ = buf_.data();
}

namespace {

// std::string as an expansion output.
struct StringOut {
  std::string& s;
  void Append(const char* p, size_t n) { s.append(p, n); }
  void Append(std::string_view v) { s.append(v); }
};

}  // namespace

std::string TExpander::ExpandText(std::string_view text, int32_t pageIndex) {
  std::string result;
  // Room for values longer than their placeholders; pages never touched
  // cost nothing.
  result.reserve(text.size() + text.size() / 2 + 64);
  StringOut out{result};
  Expand(text, pageIndex, out);
  return result;
}

void TExpander::ExpandText(std::string_view text, int32_t pageIndex, ChunkWriter& out) {
  Expand(text, pageIndex, out);
}

template <class Out>
void TExpander::Expand(std::string_view text, int32_t pageIndex, Out& out) {
  TScroller scroller(reader_);
  size_t pos = 0;  // start of the rest of the text
  for (;;) {
    const void* hit = std::memchr(text.data() + pos, '%', text.size() - pos);
    if (!hit) {
      out.Append(text.data() + pos, text.size() - pos);
      return;
    }
    size_t pct = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    out.Append(text.data() + pos, pct - pos);
    pos = pct + 1;
    scroller.SetText(text.substr(pos), 0);
    const TPosition& name = scroller.Token(0);
    bool placeholder = name.Blanks.empty() && name.Status == stWord;
    if (placeholder) {
      const TPosition& close = scroller.Token(1);
      placeholder = close.Text == "%" && close.Blanks.empty();
    }
    // The name is a view into `text`, which outlives this step.
    const std::string* value = placeholder ? Lookup(name.Text, pageIndex) : nullptr;
    if (value) {
      out.Append(value->data(), value->size());
      pos += name.Text.size() + 1;
    } else {
      out.Append("%", 1);
    }
  }
}

}  // namespace brindle
