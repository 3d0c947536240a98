// Helpers shared by the scanner tests.
#pragma once

#include <string>
#include <vector>

#include "scan/Reader.h"

namespace brindle::test {

struct Tok {
  std::string Text;
  int32_t Status = 0;
  std::string Blanks;
  int32_t KeyNum = -1;
  int32_t Position = 0;
};

inline Tok ToTok(const TPosition& p) {
  return Tok{std::string(p.Text), p.Status, std::string(p.Blanks), p.KeyNum, p.Position};
}

// Every token of text, read from slot 0 until the end of the text.
inline std::vector<Tok> ScanAll(TReader& reader, std::string_view text, int32_t start = 0) {
  TScroller scroller(reader);
  scroller.SetText(text, start);
  std::vector<Tok> out;
  for (size_t guard = 0; guard <= text.size() + 1; ++guard) {
    const TPosition& t = scroller.Token(0);
    if (t.Status == stEnd) break;
    out.push_back(ToTok(t));
    scroller.Next();
  }
  return out;
}

// "text/status" per token, blank-separated, for compact expectations.
inline std::string Show(const std::vector<Tok>& toks) {
  std::string s;
  for (const Tok& t : toks) {
    if (!s.empty()) s += ' ';
    s += t.Text + "/" + std::to_string(t.Status);
  }
  return s;
}

inline std::string ShowScan(TReader& reader, std::string_view text) {
  return Show(ScanAll(reader, text));
}

}  // namespace brindle::test
