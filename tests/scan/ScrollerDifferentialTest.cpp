// The scroller against a plain eager model of the token window: six slots
// of copied strings, every slot scanned at once, 1-based indices, written
// straight from the definition of the window and not from the scroller.
// Random texts and reader configurations, compared token by token.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "scan/Reader.h"

namespace brindle {
namespace {

struct RefPos {
  int32_t Position = 0;
  int32_t Structure = 0;
  int32_t KeyNum = -1;
  std::string Text;
  std::string Blanks;
  int32_t Status = 0;
  void* Properties = nullptr;
};

class RefScroller {
 public:
  // hook stands in for OnCustomStatus: it may change the slots' statuses.
  RefScroller(TReader& reader, std::function<void(RefPos*)> hook)
      : r_(reader), tracer_(reader.Words()), hook_(std::move(hook)) {}

  void SetText(const std::string& text, int32_t start) {
    text_ = text;
    tok_[0] = RefPos{};
    tok_[0].Position = start;
    tok_[5].Position = start;
    for (int k = 1; k <= 5; ++k) {
      ScanToken();
      if (k <= 4) tok_[k] = tok_[5];
    }
    Next();
  }

  void Next() {
    prev_ = tok_[0];
    for (int k = 0; k < 5; ++k) tok_[k] = tok_[k + 1];
    ScanToken();
    JoinNumbers();
    if (hook_) hook_(tok_);
  }

  const RefPos& Tok(int k) const { return tok_[k]; }
  const RefPos& Prev() const { return prev_; }

 private:
  char At(int i) const { return text_[static_cast<size_t>(i - 1)]; }
  bool Delim(char c) const { return r_.IsDelimiter(std::string(1, c)); }

  void Word(RefPos& t, int i, const std::string& acc) {
    t.Position = i;
    t.Text = acc;
    t.Status = 1;
    t.KeyNum = -1;
    t.Structure = 0;
    t.Properties = nullptr;
  }

  void ScanToken() {
    RefPos& t = tok_[5];
    const int p = t.Position;
    t.Text.clear();
    t.Blanks.clear();
    t.Structure = 0;
    t.Status = 0;
    t.KeyNum = -1;
    t.Properties = nullptr;
    const int len = static_cast<int>(text_.size());
    int i = p + 1;
    while (i <= len && r_.IsBlank(At(i))) ++i;
    if (i > len) return;
    t.Blanks = text_.substr(static_cast<size_t>(p), static_cast<size_t>(i - 1 - p));
    const bool firstDelim = Delim(At(i));
    tracer_.SetPath("");
    size_t best = 0;
    std::string acc;
    bool following = true;
    for (; i <= len; ++i) {
      const char ch = At(i);
      acc += ch;
      if (following) {
        bool assigned = false;
        int32_t structure = 0;
        void* props = nullptr;
        if (tracer_.Step(LowerChar(ch), assigned, structure, props)) {
          if (Delim(ch) != firstDelim) return;
          const TSymProperties* e = assigned ? static_cast<const TSymProperties*>(props) : nullptr;
          if (e != nullptr && !e->CSAdd.empty()) {
            bool counts = false;
            for (const auto& v : e->CSAdd) counts = counts || v.Str == acc;
            if (!counts) e = nullptr;
          }
          Candidate(t, i, acc, e, firstDelim, best);
        } else {
          following = false;
        }
      }
      if (!following) {
        if (Delim(ch) || firstDelim || r_.IsBlank(ch)) return;
        Word(t, i, acc);
      }
    }
  }

  void Candidate(RefPos& t, int i, const std::string& acc, const TSymProperties* e,
                 bool firstDelim, size_t& best) {
    if (e == nullptr) {
      if (!firstDelim) Word(t, i, acc);
      return;
    }
    int32_t structure = e->Structure, keyNum = e->KeyNum, status = e->Status;
    void* props = e->Properties;
    if (!e->CSAdd.empty()) {
      for (const auto& v : e->CSAdd) {
        if (v.Str != acc) continue;
        if (v.Status == 0) {
          Word(t, i, acc);
          return;
        }
        structure = v.Structure, keyNum = v.KeyNum, status = v.Status, props = v.Properties;
        break;
      }
    }
    if ((status == 6) == firstDelim) {
      if (!firstDelim || acc.size() > best) {
        t.Position = i;
        t.Text = acc;
        t.Structure = structure;
        t.KeyNum = keyNum;
        t.Status = status;
        t.Properties = props;
        best = acc.size();
      }
    } else if (!firstDelim) {
      Word(t, i, acc);
    }
  }

  static bool Digit(char c) { return c >= '0' && c <= '9'; }

  void Merge() {
    tok_[0].Position = tok_[1].Position;
    tok_[0].Text += tok_[1].Text;
    tok_[0].Structure = 0;
    tok_[0].Properties = nullptr;
    for (int k = 1; k <= 4; ++k) tok_[k] = tok_[k + 1];
    ScanToken();
  }

  void JoinNumbers() {
    if (r_.NumericFormat() == nfNone) return;
    if (tok_[0].Status == 0 || tok_[0].Status == 5) return;
    if (tok_[0].Text == "-" || tok_[0].Text == "+") return;
    std::string s = tok_[0].Text;
    int end[5] = {-1, -1, -1, -1, -1};
    end[0] = static_cast<int>(s.size());
    for (int k = 1; k <= 4; ++k) {
      if (!tok_[k].Blanks.empty() || tok_[k].Status == 0 || tok_[k].Status == 5) break;
      s += tok_[k].Text;
      end[k] = static_cast<int>(s.size());
    }
    const int n = static_cast<int>(s.size());
    if (n == 0) return;
    auto S = [&](int c) { return s[static_cast<size_t>(c - 1)]; };
    auto End = [&](int k) { return k < 5 ? end[k] : -1; };
    int c, t, j = 0;
    bool dot = false, exponent = false;
    if (Digit(S(1))) {
      c = 2;
      t = 0;
      if (End(0) == 1) tok_[0].Status = 2, t = 1;
    } else if ((S(1) == '-' || S(1) == '+') && n >= 2 && Digit(S(2))) {
      c = 3;
      t = 0;
      if (End(0) == 2) tok_[0].Status = 2, t = 1;
    } else {
      return;
    }
    while (c <= n) {
      const char ch = S(c);
      if (!Digit(ch)) {
        if (r_.NumericFormat() == nfInteger) return;
        if (LowerChar(ch) == 'e' && !exponent && r_.ScientificNumber) {
          if (c == n) return;
          if (S(c + 1) == '-' || S(c + 1) == '+') {
            if (c + 1 == n) return;
            if (c == End(t)) ++t;
            ++c;
          }
          if (!Digit(S(c + 1))) return;
          exponent = true;
          if (c == End(t)) ++t;
          ++c;
        } else {
          if (dot || exponent || ch != r_.DecimalChar()) return;
          if (c == n || !Digit(S(c + 1))) return;
          dot = true;
          if (c == End(t)) ++t;
          ++c;
        }
      }
      if (c == End(t)) {
        tok_[0].Status = exponent ? 4 : dot ? 3 : 2;
        for (; j < t; ++j) Merge();
        ++t;
      }
      ++c;
    }
  }

  TReader& r_;
  TTracer tracer_;
  std::function<void(RefPos*)> hook_;
  std::string text_;
  RefPos prev_;
  RefPos tok_[6];
};

// A handler both scrollers run: it marks some tokens 5 (no joining) or 0,
// decided by the token alone.
int32_t CustomStatus(int32_t position, std::string_view text, int32_t status) {
  if (text == ".") return 5;
  if (text == "e" && position % 2 == 0) return 0;
  if (text.size() == 1 && (position * 7) % 11 == 0) return 5;
  return status;
}

// Random pieces of numbers, words, delimiters and blanks, so that joining,
// dictionary words and longest delimiters all happen often.
std::string RandomText(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "1", "12", "0", ".", ",", "e", "E", "5e", "e-", "-", "+", "3", " ", "  ", "\t", "\n",
      "\r", "%", "<", "=", "<=", "ab", "Ab", "if", "IF", "x", "_", "~", "`", "\xC3\xA9", "1.5e-3",
      "9,", "!", "@", "nasa", "NaSa", "a b", "<<="};
  std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> count(0, 30);
  std::string text;
  for (int n = count(rng); n > 0; --n) text += kPieces[pick(rng)];
  return text;
}

void RandomConfiguration(std::mt19937& rng, TReader& r) {
  auto coin = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  if (coin(70)) ConfigureMainReader(r);
  if (coin(30)) r.SetDefaultBlanks();
  if (coin(20)) r.RemoveBlank(' ');
  const TNumericFormat formats[] = {nfNone, nfInteger, nfPeriod, nfComma};
  r.SetNumericFormat(formats[std::uniform_int_distribution<int>(0, 3)(rng)]);
  r.ScientificNumber = coin(75);
  static const char* const kDelims[] = {"<=", "<<=", "e", "E", ".", ",", "+", "-", "ab", "%%", "=<"};
  static const char* const kWords[] = {"if", "IF", "ab", "a b", "1", "12", "e", "nasa", "x_", "<x"};
  for (const char* d : kDelims) {
    if (coin(15)) r.AddDelimiter(d, 1, static_cast<int32_t>(rng() % 500), nullptr);
  }
  for (const char* w : kWords) {
    if (coin(15)) r.AddWord(w, 2, static_cast<int32_t>(rng() % 500), static_cast<int32_t>(rng() % 9), nullptr);
  }
  if (coin(20)) r.AddVariant("NaSa", 3, 7, 7, nullptr);
  if (coin(20)) r.AddVariant("Nasa", 3, 8, 0, nullptr);
  if (coin(20)) r.AddVariant("aB", 3, 9, 6, nullptr);
  if (coin(20)) r.RemoveWord("+");
  if (coin(10)) r.RemoveWord("<");
  if (coin(10)) r.RemoveStatus(7);
}

void ExpectSame(const TPosition& got, const RefPos& want, const std::string& where) {
  EXPECT_EQ(got.Position, want.Position) << where;
  EXPECT_EQ(got.Structure, want.Structure) << where;
  EXPECT_EQ(got.KeyNum, want.KeyNum) << where;
  EXPECT_EQ(got.Text, want.Text) << where;
  EXPECT_EQ(got.Blanks, want.Blanks) << where;
  EXPECT_EQ(got.Status, want.Status) << where;
  EXPECT_EQ(got.Properties, want.Properties) << where;
}

void RunDifferential(bool withHandler, uint32_t seed, int rounds) {
  std::mt19937 rng(seed);
  for (int round = 0; round < rounds; ++round) {
    TReader reader;
    RandomConfiguration(rng, reader);
    std::function<void(RefPos*)> hook;
    if (withHandler) {
      reader.OnCustomStatus = [](TScroller& s) {
        for (int k = 0; k < TScroller::kSlots; ++k) {
          const TPosition& t = s.Token(k);
          s.SetTokenStatus(k, CustomStatus(t.Position, t.Text, t.Status));
        }
      };
      hook = [](RefPos* slots) {
        for (int k = 0; k < 6; ++k) {
          slots[k].Status = CustomStatus(slots[k].Position, slots[k].Text, slots[k].Status);
        }
      };
    }
    TScroller scroller(reader);
    RefScroller ref(reader, hook);
    for (int textNo = 0; textNo < 8; ++textNo) {
      const std::string text = RandomText(rng);
      const int32_t start = static_cast<int32_t>(rng() % (text.size() + 3) / 2);
      scroller.SetText(text, start);
      ref.SetText(text, start);
      const std::string where = "seed " + std::to_string(seed) + " round " +
                                std::to_string(round) + " text [" + text + "] start " +
                                std::to_string(start);
      for (int step = 0; step <= static_cast<int>(text.size()) + 2; ++step) {
        // Read slots in a random order and depth, as callers may.
        const int depth = static_cast<int>(rng() % 7);
        for (int i = 0; i < depth; ++i) {
          const int k = static_cast<int>(rng() % 6);
          ExpectSame(scroller.Token(k), ref.Tok(k), where + " step " + std::to_string(step) + " slot " + std::to_string(k));
        }
        ExpectSame(scroller.Token(0), ref.Tok(0), where + " step " + std::to_string(step));
        ExpectSame(scroller.Previous(), ref.Prev(), where + " previous");
        if (::testing::Test::HasFailure()) return;
        scroller.Next();
        ref.Next();
      }
    }
  }
}

TEST(ScrollerDifferential, MatchesTheEagerWindow) { RunDifferential(false, 20240611, 400); }

TEST(ScrollerDifferential, MatchesTheEagerWindowWithACustomStatusHandler) {
  RunDifferential(true, 77, 200);
}

}  // namespace
}  // namespace brindle
