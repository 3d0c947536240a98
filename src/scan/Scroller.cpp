// TScroller: the token window over a text. Declared in scan/Reader.h.
//
// The window is kept lazily. The raw tokens form a chain, each scanned from
// the Position of the one before it, and scanning depends only on the text,
// the position and the reader; number joining only ever changes slot 0.
// So slot k (k >= 1) can be scanned when first read, from the Position of
// slot k-1, and holds exactly what a window scanned in full would hold.

#include <cassert>
#include <climits>
#include <stdexcept>
#include <string>

#include "scan/Reader.h"

namespace brindle {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TScroller::TScroller(TReader& reader) : reader_(&reader), tracer_(reader.Words()) {}

void TScroller::SetText(std::string_view text, int32_t start) {
  if (start < 0) throw std::out_of_range("TScroller::SetText: negative start position");
  if (text.size() > static_cast<size_t>(INT32_MAX)) {
    throw std::length_error("TScroller::SetText: text longer than 2147483647 bytes");
  }
  text_ = text;
  previous_ = TPosition{};
  previous_.Position = start;
  // The empty start token moves out of slot 0 at once: scan the first
  // token straight into it.
  ScanToken(start, tokens_[0]);
  valid_ = 1;
  Settle();
}

void TScroller::Next() {
  previous_ = tokens_[0];
  if (valid_ == 1) {
    ScanToken(tokens_[0].Position, tokens_[0]);
  } else {
    for (int k = 1; k < valid_; ++k) tokens_[static_cast<size_t>(k - 1)] = tokens_[static_cast<size_t>(k)];
    --valid_;
  }
  Settle();
}

void TScroller::Settle() {
  const TPosition& first = tokens_[0];
  // Most tokens cannot start a number; spare them the call.
  if (first.Status != stEnd && first.Status != stNoJoin &&
      (first.Text.empty() || IsDigit(first.Text[0]) || first.Text[0] == '-' || first.Text[0] == '+')) {
    JoinNumbers();
  }
  if (reader_->OnCustomStatus) {
    // The handler sees, and may change, the whole window.
    Fill(kSlots - 1);
    reader_->OnCustomStatus(*this);
  }
}

void TScroller::SetTokenStatus(int slot, int32_t status) {
  if (slot < 0 || slot >= kSlots) {
    throw std::out_of_range("TScroller: no token slot " + std::to_string(slot));
  }
  Fill(slot);
  tokens_[static_cast<size_t>(slot)].Status = status;
}

void TScroller::Fill(int slot) {
  if (slot < 0 || slot >= kSlots) {
    throw std::out_of_range("TScroller: no token slot " + std::to_string(slot));
  }
  while (valid_ <= slot) {
    const size_t k = static_cast<size_t>(valid_);
    ScanToken(tokens_[k - 1].Position, tokens_[k]);
    ++valid_;
  }
}

void TScroller::MakeWord(size_t start, size_t end, TPosition& token) const {
  token.Position = static_cast<int32_t>(end);
  token.Text = std::string_view(text_.data() + start, end - start);
  token.Status = stWord;
  token.KeyNum = -1;
  token.Structure = 0;
  token.Properties = nullptr;
}

inline void TScroller::ScanOrdinary(size_t start, bool firstIsDelimiter, TPosition& token) {
  const TReader& reader = *reader_;
  const char* const s = text_.data();
  const size_t len = text_.size();
  tracer_.SetPosition(TTracerPosition{});
  size_t best = 0;
  size_t i = start;
  // Follow the dictionary, one tracer step per character, while it has a
  // path for the text read so far.
  for (; i < len; ++i) {
    bool assigned = false;
    int32_t structure = 0;
    void* properties = nullptr;
    if (!tracer_.Step(LowerChar(s[i]), assigned, structure, properties)) break;
    if (reader.IsDelimiterChar(s[i]) != firstIsDelimiter) return;
    const auto* entry = assigned ? static_cast<const TSymProperties*>(properties) : nullptr;
    if (entry != nullptr && entry->CSAdd.empty() &&
        (entry->Status == stDelimiter) == firstIsDelimiter && i + 1 - start > best) {
      // The common case: a plain entry of the token's own kind.
      token.Position = static_cast<int32_t>(i + 1);
      token.Text = std::string_view(s + start, i + 1 - start);
      token.Structure = entry->Structure;
      token.KeyNum = entry->KeyNum;
      token.Status = entry->Status;
      token.Properties = entry->Properties;
      best = i + 1 - start;
      continue;
    }
    Record(start, i + 1, entry, firstIsDelimiter, best, token);
  }
  if (i >= len || firstIsDelimiter) return;
  // Off the dictionary: a word runs on to the next blank or delimiter.
  constexpr uint8_t kStop = TReader::kBlankClass | TReader::kDelimiterClass;
  size_t end = i;
  while (end < len && (reader.CharClass(s[end]) & kStop) == 0) ++end;
  if (end > i) MakeWord(start, end, token);
}

void TScroller::ScanToken(int32_t from, TPosition& token) {
  const TReader& reader = *reader_;
  const char* const s = text_.data();
  const size_t len = text_.size();
  size_t i = static_cast<size_t>(from);
  while (i < len && reader.IsBlank(s[i])) ++i;
  token.Position = from;
  token.Structure = 0;
  token.KeyNum = -1;
  token.Text = {};
  token.Blanks = {};
  token.Status = stEnd;
  token.Properties = nullptr;
  if (i >= len) return;  // end of text: Blanks stay empty
  token.Blanks = std::string_view(s + from, i - static_cast<size_t>(from));
  const bool firstIsDelimiter = reader.IsDelimiterChar(s[i]);
  if (reader.WildCardEnabled && ScanWildCard(i, firstIsDelimiter, token)) return;
  ScanOrdinary(i, firstIsDelimiter, token);
}

bool TScroller::Record(size_t start, size_t end, const void* entry, bool firstIsDelimiter,
                       size_t& best, TPosition& token) const {
  const std::string_view accumulated(text_.data() + start, end - start);
  const auto* e = static_cast<const TSymProperties*>(entry);
  int32_t structure = 0, keyNum = -1, status = 0;
  void* properties = nullptr;
  if (e != nullptr) {
    if (e->CSAdd.empty()) {
      structure = e->Structure;
      keyNum = e->KeyNum;
      status = e->Status;
      properties = e->Properties;
    } else {
      // With variants the entry counts only when spelled as one of them.
      const TCSVariant* variant = nullptr;
      for (const TCSVariant& v : e->CSAdd) {
        if (v.Str == accumulated) {
          variant = &v;
          break;
        }
      }
      if (variant == nullptr) {
        e = nullptr;
      } else if (variant->Status == 0) {
        MakeWord(start, end, token);
        return true;
      } else {
        structure = variant->Structure;
        keyNum = variant->KeyNum;
        status = variant->Status;
        properties = variant->Properties;
      }
    }
  }
  if (e == nullptr) {
    if (firstIsDelimiter) return false;
    MakeWord(start, end, token);
    return true;
  }
  if ((status == stDelimiter) == firstIsDelimiter) {
    if (firstIsDelimiter && accumulated.size() <= best) return false;
    token.Position = static_cast<int32_t>(end);
    token.Text = accumulated;
    token.Structure = structure;
    token.KeyNum = keyNum;
    token.Status = status;
    token.Properties = properties;
    best = accumulated.size();
    return true;
  }
  if (firstIsDelimiter) return false;
  MakeWord(start, end, token);
  return true;
}

bool TScroller::StepFrom(const TTracerPosition& from, char ch, WildState& to) {
  tracer_.SetPosition(from);
  bool assigned = false;
  int32_t structure = 0;
  void* properties = nullptr;
  if (!tracer_.Step(ch, assigned, structure, properties)) return false;
  tracer_.GetPosition(to.Pos);
  to.Entry = assigned ? properties : nullptr;
  return true;
}

// Keys may hold OrWildCard (a run of zero or more token characters) and
// AndWildCard (one token character). Token characters are the non-blank
// ones whose delimiter status is the first character's. The search is depth
// first; at each key position the literal continuation is tried before
// AndWildCard and that before OrWildCard, whose run grows from zero. Each
// (position, index) pair is explored once, which bounds the search by the
// dictionary's size times the token's length.
//
// A token starting with a delimiter takes the longest delimiter key that
// matches (the first found among equally long ones). Any other token is
// the whole run of token characters, with the values of the first key
// found that matches all of it. Without a match the ordinary scan decides.
bool TScroller::ScanWildCard(size_t start, bool firstIsDelimiter, TPosition& token) {
  const TReader& reader = *reader_;
  const char* s = text_.data();
  const size_t len = text_.size();
  size_t runEnd = start;
  while (runEnd < len && !reader.IsBlank(s[runEnd]) &&
         reader.IsDelimiterChar(s[runEnd]) == firstIsDelimiter) {
    ++runEnd;
  }
  wildStack_.clear();
  wildSeen_.clear();
  wildStack_.push_back(WildState{TTracerPosition{}, start, nullptr, false});
  size_t best = 0;
  bool recorded = false;
  while (!wildStack_.empty()) {
    const WildState st = wildStack_.back();
    wildStack_.pop_back();
    if (st.OrRun) {
      if (!wildSeen_.emplace(st.Pos.Table, st.Pos.Byte, st.Index, true).second) continue;
      if (st.Index < runEnd) wildStack_.push_back(WildState{st.Pos, st.Index + 1, st.Entry, true});
    }
    if (!wildSeen_.emplace(st.Pos.Table, st.Pos.Byte, st.Index, false).second) continue;
    if (st.Entry != nullptr && st.Index > start) {
      if (firstIsDelimiter) {
        recorded |= Record(start, st.Index, st.Entry, true, best, token);
      } else if (st.Index == runEnd) {
        // The first key that spells the whole word ends the search.
        const auto* entry = static_cast<const TSymProperties*>(st.Entry);
        const std::string_view accumulated = text_.substr(start, st.Index - start);
        bool counts = entry->CSAdd.empty();
        for (const TCSVariant& v : entry->CSAdd) counts = counts || v.Str == accumulated;
        if (counts) {
          size_t unused = 0;
          Record(start, st.Index, st.Entry, false, unused, token);
          return true;
        }
      }
    }
    WildState next;
    // Pushed in reverse order of trial.
    if (StepFrom(st.Pos, reader.OrWildCard, next)) {
      next.Index = st.Index;
      next.OrRun = true;
      wildStack_.push_back(next);
    }
    if (st.Index < runEnd) {
      if (StepFrom(st.Pos, reader.AndWildCard, next)) {
        next.Index = st.Index + 1;
        next.OrRun = false;
        wildStack_.push_back(next);
      }
      const char lower = LowerChar(s[st.Index]);
      if (lower != reader.OrWildCard && lower != reader.AndWildCard && StepFrom(st.Pos, lower, next)) {
        next.Index = st.Index + 1;
        next.OrRun = false;
        wildStack_.push_back(next);
      }
    }
  }
  return recorded;
}

void TScroller::JoinNumbers() {
  const TReader& reader = *reader_;
  TPosition& first = tokens_[0];
  if (first.Status == stEnd || first.Status == stNoJoin) return;
  // Only a token that starts like a number needs the look-ahead. (A lone
  // sign never starts one.)
  if (!first.Text.empty() && !IsDigit(first.Text[0])) {
    if (first.Text[0] != '-' && first.Text[0] != '+') return;
    if (first.Text.size() < 2 || !IsDigit(first.Text[1])) return;
  }
  if (reader.NumericFormat() == nfNone) return;

  // S: slot 0's text followed by the texts of the slots directly after it.
  std::string& s = joinText_;
  s.assign(first.Text);
  size_t end[kSlots - 1] = {};
  int spelled = 1;
  end[0] = s.size();
  for (int k = 1; k < kSlots - 1; ++k) {
    const TPosition& t = Token(k);
    if (!t.Blanks.empty() || t.Status == stEnd || t.Status == stNoJoin) break;
    s.append(t.Text);
    end[k] = s.size();
    spelled = k + 1;
  }
  const size_t n = s.size();
  if (n == 0) return;
  // 1-based character indices as in the number grammar; End(k) is where
  // slot k's text ends in S (0, never reached, past the spelled slots).
  auto End = [&](int k) -> size_t { return k < spelled ? end[k] : 0; };
  auto At = [&](size_t c) { return s[c - 1]; };

  size_t c = 0;
  int t = 0;
  if (IsDigit(At(1))) {
    c = 2;
    if (End(0) == 1) {
      first.Status = stInteger;
      t = 1;
    }
  } else if ((At(1) == '-' || At(1) == '+') && n >= 2 && IsDigit(At(2))) {
    c = 3;
    if (End(0) == 2) {
      first.Status = stInteger;
      t = 1;
    }
  } else {
    return;
  }

  int merged = 0;
  bool dot = false;
  bool exponent = false;
  while (c <= n) {
    const char ch = At(c);
    if (!IsDigit(ch)) {
      if (reader.NumericFormat() == nfInteger) return;
      if (LowerChar(ch) == 'e' && !exponent && reader.ScientificNumber) {
        if (c == n) return;
        if (At(c + 1) == '-' || At(c + 1) == '+') {
          if (c + 1 == n) return;
          if (c == End(t)) ++t;
          ++c;
        }
        if (!IsDigit(At(c + 1))) return;
        exponent = true;
        if (c == End(t)) ++t;
        ++c;
      } else {
        if (dot || exponent || ch != reader.DecimalChar()) return;
        if (c == n || !IsDigit(At(c + 1))) return;
        dot = true;
        if (c == End(t)) ++t;
        ++c;
      }
    }
    if (c == End(t)) {
      first.Status = exponent ? stScientific : dot ? stDecimal : stInteger;
      while (merged < t) {
        MergeSlot1();
        ++merged;
      }
      ++t;
    }
    ++c;
  }
}

void TScroller::MergeSlot1() {
  TPosition& first = tokens_[0];
  const TPosition& second = Token(1);
  first.Position = second.Position;
  if (first.Text.empty()) {
    first.Text = second.Text;
  } else if (!second.Text.empty()) {
    // Merged tokens have no blanks between them, so their texts touch.
    assert(first.Text.data() + first.Text.size() == second.Text.data());
    first.Text = std::string_view(first.Text.data(), first.Text.size() + second.Text.size());
  }
  first.Structure = 0;
  first.Properties = nullptr;
  for (int k = 2; k < valid_; ++k) tokens_[static_cast<size_t>(k - 1)] = tokens_[static_cast<size_t>(k)];
  --valid_;
}

}  // namespace brindle
