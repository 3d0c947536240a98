#include "build/Expansion.h"

#include <cstring>

#include "project/Project.h"
#include "project/Records.h"
#include "scan/Reader.h"

namespace brindle {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string FoldCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace

TExpander::TExpander(Project& project, TReader& reader) : project_(project), reader_(reader) {}

std::string_view TExpander::Fold(std::string_view name) {
  fold_.assign(name);
  for (char& c : fold_) c = Lower(c);
  return fold_;
}

void TExpander::IndexPage(int32_t pageIndex) {
  if (indexedPage_ == pageIndex) return;
  pageValues_.clear();
  declared_.clear();
  const TPage& page = project_.GetPages()[static_cast<size_t>(pageIndex)];
  for (size_t i = 0; i < page.Values.size(); ++i) pageValues_.try_emplace(FoldCopy(page.Values[i].Name), i);
  // Every template whose name matches counts, not only the first.
  const TTemplates& temps = project_.GetTemps();
  for (const TTemplate& t : temps)
    if (SameName(t.Name, page.Template))
      for (const std::string& lv : t.LocalVars) declared_.try_emplace(FoldCopy(lv), 0);
  indexedPage_ = pageIndex;
}

bool TExpander::FindVariableValue(std::string_view name, std::string& value, int32_t pageIndex) {
  TPages& pages = project_.GetPages();
  if (pageIndex >= 0 && static_cast<size_t>(pageIndex) < pages.size()) {
    IndexPage(pageIndex);
    std::string_view key = Fold(name);
    if (auto it = pageValues_.find(key); it != pageValues_.end()) {
      // Copy the value first: the nested expansion reuses fold_.
      std::string stored = pages[static_cast<size_t>(pageIndex)].Values[it->second].Value;
      value = ExpandText(stored, -1);
      return true;
    }
    if (declared_.find(key) != declared_.end()) {
      value.clear();
      return true;
    }
  }
  if (!globalsIndexed_) {
    const TVars& vars = project_.GetVars();
    for (size_t i = 0; i < vars.size(); ++i) globals_.try_emplace(FoldCopy(vars[i].Name), i);
    globalsIndexed_ = true;
  }
  if (auto it = globals_.find(Fold(name)); it != globals_.end()) {
    value = project_.GetVars()[it->second].Value;
    return true;
  }
  return false;
}

std::string TExpander::ExpandText(std::string_view text, int32_t pageIndex) {
  std::string result;
  result.reserve(text.size() + text.size() / 8);
  TScroller scroller(reader_);
  std::string value;
  size_t pos = 0;  // start of the rest of the text
  for (;;) {
    const void* hit = std::memchr(text.data() + pos, '%', text.size() - pos);
    if (!hit) {
      result.append(text.data() + pos, text.size() - pos);
      return result;
    }
    size_t pct = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    result.append(text.data() + pos, pct - pos);
    pos = pct + 1;
    std::string_view rest = text.substr(pos);
    scroller.SetText(rest, 0);
    const TPosition& name = scroller.Token(0);
    bool placeholder = name.Blanks.empty() && name.Status == 1;
    if (placeholder) {
      const TPosition& close = scroller.Token(1);
      placeholder = close.Text == "%" && close.Blanks.empty();
    }
    // The name view points into `text`, which outlives this step.
    if (placeholder && FindVariableValue(name.Text, value, pageIndex)) {
      result += value;
      pos += name.Text.size() + 1;
    } else {
      result += '%';
    }
  }
}

}  // namespace brindle
