#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "ScanTestUtil.h"
#include "scan/Reader.h"

namespace brindle {
namespace {

using test::ScanAll;
using test::ShowScan;

class MainScan : public ::testing::Test {
 protected:
  MainScan() { ConfigureMainReader(reader); }
  std::string Scan(std::string_view text) { return ShowScan(reader, text); }
  TReader reader;
};

TEST_F(MainScan, EmptyAndBlankTextsGiveTheEndToken) {
  for (std::string_view text : {"", "  \t "}) {
    TScroller s(reader);
    s.SetText(text);
    EXPECT_EQ(s.Token(0).Status, stEnd);
    EXPECT_TRUE(s.Token(0).Text.empty());
    EXPECT_TRUE(s.Token(0).Blanks.empty());
  }
  // Trailing blanks belong to no token; the end token stays where the last
  // token ended, and so do all later ones.
  TScroller s(reader);
  s.SetText("ab  ");
  s.Next();
  for (int i = 0; i < 3; ++i, s.Next()) {
    EXPECT_EQ(s.Token(0).Status, stEnd);
    EXPECT_EQ(s.Token(0).Position, 2);
    EXPECT_TRUE(s.Token(0).Blanks.empty());
  }
}

TEST_F(MainScan, DelimitersAreOneCharacterTokens) {
  EXPECT_EQ(Scan("a<=b"), "a/1 </6 =/6 b/1");
  auto toks = ScanAll(reader, "%x%");
  EXPECT_EQ(test::Show(toks), "%/6 x/1 %/6");
  EXPECT_EQ(toks[0].KeyNum, 37);
  EXPECT_EQ(toks[1].KeyNum, -1);
  EXPECT_EQ(toks[2].Position, 3);
  // Names may hold the underscore, the tilde, the backquote and UTF-8.
  EXPECT_EQ(Scan("%my_name~`\xC3\xA9%"), "%/6 my_name~`\xC3\xA9/1 %/6");
  // Case is kept in Text.
  EXPECT_EQ(Scan(" Hello"), "Hello/1");
}

TEST_F(MainScan, Numbers) {
  EXPECT_EQ(Scan("12"), "12/2");
  EXPECT_EQ(Scan("1e5 1E+5 1e-5"), "1e5/4 1E+5/4 1e-5/4");
  EXPECT_EQ(Scan("1.5"), "1.5/3");
  EXPECT_EQ(Scan("1 .5"), "1/2 ./6 5/2");
  EXPECT_EQ(Scan("1. 5"), "1/2 ./6 5/2");
  EXPECT_EQ(Scan("-5"), "-/6 5/2");
  EXPECT_EQ(Scan("1.5e-3"), "1.5e-3/4");
  EXPECT_EQ(Scan("3.x"), "3/2 ./6 x/1");
  EXPECT_EQ(Scan("12ab 2a a2 1e"), "12ab/1 2a/1 a2/1 1e/1");
  EXPECT_EQ(Scan("1.5.3"), "1.5/3 ./6 3/2");
  EXPECT_EQ(Scan("1e5.5"), "1e5/4 ./6 5/2");  // no decimal point after an exponent
  EXPECT_EQ(Scan("1e-x"), "1e/1 -/6 x/1");
  EXPECT_EQ(Scan("2010%"), "2010/2 %/6");
  auto toks = ScanAll(reader, "x 1.5e-3");
  EXPECT_EQ(toks[1].Position, 8);
  EXPECT_EQ(toks[1].Blanks, " ");
  EXPECT_EQ(toks[1].KeyNum, -1);  // the first token's key number stays
}

TEST_F(MainScan, NumberSettings) {
  reader.ScientificNumber = false;
  EXPECT_EQ(Scan("1e5"), "1e5/1");
  reader.SetNumericFormat(nfComma);
  EXPECT_EQ(Scan("1,5"), "1,5/3");
  EXPECT_EQ(Scan("1.5"), "1/2 ./6 5/2");
  reader.SetNumericFormat(nfInteger);
  EXPECT_EQ(Scan("1.5"), "1/2 ./6 5/2");
  reader.SetNumericFormat(nfNone);
  EXPECT_EQ(Scan("12 1.5"), "12/1 1/1 ./6 5/1");
}

TEST_F(MainScan, ASignJoinsOnlyInsideAWord) {
  reader.RemoveWord("+");
  EXPECT_EQ(Scan("+5 +5.5 +x"), "+5/2 +5.5/3 +x/1");
  EXPECT_EQ(Scan("1e+5"), "1e+5/4");
}

TEST_F(MainScan, ANumberSpansAtMostFiveTokens) {
  // With "e" a delimiter, 1.5e-3 is six tokens: only 1.5 can join.
  reader.AddDelimiter("e", 0, 101, nullptr);
  EXPECT_EQ(Scan("1.5e-3"), "1.5/3 e/6 -/6 3/2");
  EXPECT_EQ(Scan("1e5"), "1e5/4");  // three tokens still join
}

TEST_F(MainScan, LongestDelimiterWins) {
  reader.AddDelimiter("<=", 0, 100, nullptr);
  reader.AddDelimiter("<<=", 0, 101, nullptr);
  EXPECT_EQ(Scan("a<<=b"), "a/1 <<=/6 b/1");
  EXPECT_EQ(Scan("<<x <=< <"), "</6 </6 x/1 <=/6 </6 </6");
  EXPECT_EQ(ScanAll(reader, "<=")[0].KeyNum, 100);
}

TEST(Scroller, DictionaryWordsTakeTheirStatusOnlyWhenWhole) {
  TReader r;
  ConfigureMainReader(r);
  r.AddWord("if", 0, 9, 7, nullptr);
  EXPECT_EQ(ShowScan(r, "if iffy If( i"), "if/7 iffy/1 If/7 (/6 i/1");
  EXPECT_EQ(test::ScanAll(r, "IF")[0].KeyNum, 9);
  // A word spelled like a delimiter entry stays a word.
  r.AddWord("do", 0, 0, stDelimiter, nullptr);
  EXPECT_EQ(ShowScan(r, "do"), "do/1");
}

TEST(Scroller, CaseSensitiveVariants) {
  TReader r;
  ConfigureMainReader(r);
  r.AddVariant("NaSa", 0, 1, 7, nullptr);
  r.AddVariant("Nasa", 0, 2, 0, nullptr);
  EXPECT_EQ(ShowScan(r, "NaSa nasa Nasa NASA"), "NaSa/7 nasa/1 Nasa/1 NASA/1");
}

TEST(Scroller, StartPositionAndPrevious) {
  TReader r;
  ConfigureMainReader(r);
  TScroller s(r);
  s.SetText("abc def", 3);
  EXPECT_EQ(s.Previous().Position, 3);
  EXPECT_EQ(s.Previous().Status, stEnd);
  EXPECT_EQ(s.Token(0).Text, "def");
  EXPECT_EQ(s.Token(0).Blanks, " ");
  s.Next();
  EXPECT_EQ(s.Previous().Text, "def");
  s.SetText("abc", 10);
  EXPECT_EQ(s.Token(0).Status, stEnd);
  EXPECT_EQ(s.Token(0).Position, 10);
  EXPECT_THROW(s.SetText("abc", -1), std::out_of_range);
  EXPECT_THROW(s.Token(6), std::out_of_range);
  EXPECT_THROW(s.Token(-1), std::out_of_range);
}

TEST(Scroller, OnCustomStatusSeesTheFullWindowAndItsChangesStay) {
  TReader r;
  ConfigureMainReader(r);
  int calls = 0;
  r.OnCustomStatus = [&](TScroller& sender) {
    ++calls;
    for (int k = 0; k < TScroller::kSlots; ++k) {
      if (sender.Token(k).Text == ".") sender.SetTokenStatus(k, stNoJoin);
    }
  };
  // The "." is already marked when 1 reaches slot 0, so nothing joins.
  EXPECT_EQ(ShowScan(r, "x 1.5"), "x/1 1/2 ./5 5/2");
  EXPECT_EQ(calls, 5);  // SetText and four Next
}

TEST(Scroller, ScanningAtEveryPercentOfALargerText) {
  // The way the expansion scans: a view of what follows each "%".
  TReader r;
  ConfigureMainReader(r);
  TScroller s(r);
  const std::string text = "a %one% b %2% %x y% %z";
  std::string names;
  for (size_t p = text.find('%'); p != std::string::npos; p = text.find('%', p + 1)) {
    s.SetText(std::string_view(text).substr(p + 1));
    const TPosition& name = s.Token(0);
    const TPosition& close = s.Token(1);
    if (name.Blanks.empty() && name.Status == stWord && close.Text == "%" && close.Blanks.empty()) {
      names += std::string(name.Text) + ";";
    }
  }
  EXPECT_EQ(names, "one;");
}

// The wildcard mode: "~" for any run of token characters, "`" for one.
class WildScan : public MainScan {
 protected:
  WildScan() { reader.WildCardEnabled = true; }
};

TEST_F(WildScan, OrWildCardMatchesAnyRun) {
  reader.AddWord("h~o", 0, 0, 7, nullptr);
  EXPECT_EQ(Scan("hello ho hxx hellox hello!"), "hello/7 ho/7 hxx/1 hellox/1 hello/7 !/6");
  reader.AddWord("pre~", 0, 0, 8, nullptr);
  EXPECT_EQ(Scan("prefix pre pr"), "prefix/8 pre/8 pr/1");
  reader.WildCardEnabled = false;
  EXPECT_EQ(Scan("hello h~o"), "hello/1 h~o/7");
}

TEST_F(WildScan, AndWildCardMatchesOneCharacterAfterLiteralKeys) {
  reader.AddWord("c`t", 0, 0, 8, nullptr);
  reader.AddWord("cut", 0, 0, 9, nullptr);
  EXPECT_EQ(Scan("cat ct coat cut"), "cat/8 ct/1 coat/1 cut/9");
}

TEST_F(WildScan, DelimiterKeysTakeTheLongestMatch) {
  reader.AddDelimiter("<~>", 0, 300, nullptr);
  // The implicit one-character key "~" would itself match any run.
  reader.RemoveWord("~");
  auto toks = ScanAll(reader, "<==> <= <>");
  EXPECT_EQ(test::Show(toks), "<==>/6 </6 =/6 <>/6");
  EXPECT_EQ(toks[0].KeyNum, 300);
  EXPECT_EQ(toks[3].KeyNum, 300);
  reader.AddDelimiter("<=", 0, 301, nullptr);
  EXPECT_EQ(ScanAll(reader, "<=")[0].KeyNum, 301);  // literal first among equals
}

}  // namespace
}  // namespace brindle
