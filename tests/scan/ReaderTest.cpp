#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "ScanTestUtil.h"
#include "scan/Reader.h"

namespace brindle {
namespace {

using test::ShowScan;

// Records every OnDisposeProperties call as (structure, properties).
struct DisposeLog {
  std::vector<std::pair<int32_t, void*>> calls;
  void Attach(TReader& r) {
    r.OnDisposeProperties = [this](TReader&, int32_t s, void* p) { calls.emplace_back(s, p); };
  }
};

void* Tag(intptr_t n) { return reinterpret_cast<void*>(n); }

std::vector<std::string> Keys(TReader& r) {
  std::vector<std::string> keys;
  TDList& words = const_cast<TDList&>(r.Words());
  std::string k;
  if (words.First()) {
    do {
      words.CurrentKey(k);
      keys.push_back(k);
    } while (words.Next());
  }
  return keys;
}

TEST(Reader, NewReaderReadsEverythingAsOneWord) {
  TReader r;
  for (int c = 0; c < 256; ++c) {
    EXPECT_FALSE(r.IsBlank(static_cast<char>(c)));
    EXPECT_FALSE(r.IsDelimiterChar(static_cast<char>(c)));
  }
  EXPECT_EQ(ShowScan(r, "a b%c\n"), "a b%c\n/1");
  EXPECT_EQ(r.NumericFormat(), nfPeriod);
  EXPECT_EQ(r.DecimalChar(), '.');
  EXPECT_TRUE(r.ScientificNumber);
  EXPECT_FALSE(r.WildCardEnabled);
}

TEST(Reader, DecimalCharFollowsNumericFormat) {
  TReader r;
  r.SetNumericFormat(nfComma);
  EXPECT_EQ(r.DecimalChar(), ',');
  r.SetNumericFormat(nfPeriod);
  EXPECT_EQ(r.DecimalChar(), '.');
  r.SetNumericFormat(nfComma);
  r.SetNumericFormat(nfNone);
  EXPECT_EQ(r.DecimalChar(), '.');
}

TEST(Reader, MultiCharacterDelimiterMakesEachCharacterADelimiter) {
  TReader r;
  r.AddDelimiter("<=", 5, 100, nullptr);
  EXPECT_TRUE(r.IsDelimiter("<="));
  EXPECT_TRUE(r.IsDelimiterChar('<'));
  EXPECT_TRUE(r.IsDelimiterChar('='));
  EXPECT_EQ(r.FindEntry("<")->KeyNum, -1);
  EXPECT_EQ(r.FindEntry("<=")->KeyNum, 100);
  EXPECT_EQ(r.FindEntry("<=")->Structure, 5);
  r.AddDelimiter("<=", 5, 200, nullptr);
  EXPECT_EQ(r.FindEntry("<=")->KeyNum, 200);

  // A character that already was a delimiter keeps its key number.
  TReader d;
  d.SetDefaultDelimiters();
  d.AddDelimiter("<=", 0, 100, nullptr);
  EXPECT_EQ(d.FindEntry("<")->KeyNum, 60);
}

TEST(Reader, DelimiterOverAWordDisposesTheWordsProperties) {
  DisposeLog log;  // outlives the reader, which reports to it when destroyed
  TReader r;
  log.Attach(r);
  r.AddWord("x", 3, 7, 9, Tag(1));
  r.AddVariant("X", 4, 8, 9, Tag(2));
  r.AddDelimiter("x=", 0, 50, nullptr);
  const TSymProperties* x = r.FindEntry("x");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->Status, stDelimiter);
  EXPECT_EQ(x->KeyNum, -1);
  EXPECT_EQ(x->Properties, nullptr);
  EXPECT_TRUE(x->CSAdd.empty());
  EXPECT_EQ(log.calls, (std::vector<std::pair<int32_t, void*>>{{3, Tag(1)}, {4, Tag(2)}}));
}

TEST(Reader, DefaultDelimiters) {
  TReader r;
  r.AddDelimiter("ab", 0, 1, nullptr);
  r.SetDefaultDelimiters();
  EXPECT_FALSE(r.IsDelimiter("ab"));
  EXPECT_FALSE(r.IsDelimiter("a"));
  const std::string expected = "!@#$%^&*()+|-=\\[]{};':\",./<>?";
  int count = 0;
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const bool want = expected.find(ch) != std::string::npos;
    EXPECT_EQ(r.IsDelimiterChar(ch), want) << c;
    if (want) {
      EXPECT_EQ(r.FindEntry(std::string(1, ch))->KeyNum, c);
      ++count;
    }
  }
  EXPECT_EQ(count, 29);
  EXPECT_TRUE(r.IsDelimiter("%"));
  EXPECT_FALSE(r.IsDelimiter("_"));
  r.ClearDelimiters();
  EXPECT_TRUE(Keys(r).empty());
}

TEST(Reader, RemoveWordFoldsCase) {
  TReader r;
  r.AddDelimiter("abc", 0, 1, nullptr);
  r.RemoveWord("ABC");
  EXPECT_FALSE(r.IsDelimiter("abc"));
  EXPECT_TRUE(r.IsDelimiterChar('a'));
  r.RemoveWord("nothing");  // not a failure
  EXPECT_EQ(Keys(r), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Reader, RemoveWordTakesOneVariantOrTheEntrysOwnWord) {
  DisposeLog log;  // outlives the reader, which reports to it when destroyed
  TReader r;
  log.Attach(r);
  r.AddWord("hello", 1, 2, 7, Tag(1));
  r.AddVariant("Hello", 3, 4, 8, Tag(2));
  r.AddVariant("HELLO", 5, 6, 9, Tag(3));

  r.RemoveWord("HELLO");  // exactly a variant: only that variant goes
  ASSERT_EQ(r.FindEntry("hello")->CSAdd.size(), 1u);
  EXPECT_EQ(r.FindEntry("hello")->CSAdd[0].Str, "Hello");

  r.RemoveWord("hello");  // no such variant: the entry is blanked, its variants stay
  const TSymProperties* e = r.FindEntry("hello");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Status, 0);
  EXPECT_EQ(e->Str, "");
  EXPECT_EQ(e->KeyNum, -1);
  EXPECT_EQ(e->CSAdd.size(), 1u);

  r.RemoveWord("Hello");  // the last variant of a blank entry takes the key with it
  EXPECT_EQ(r.FindEntry("hello"), nullptr);
  EXPECT_EQ(log.calls, (std::vector<std::pair<int32_t, void*>>{{5, Tag(3)}, {1, Tag(1)}, {3, Tag(2)}}));
}

TEST(Reader, RemoveStatusTakesEntriesAndVariantsOfThatStatus) {
  DisposeLog log;  // outlives the reader, which reports to it when destroyed
  TReader r;
  log.Attach(r);
  r.AddWord("one", 0, 0, 7, Tag(1));
  r.AddWord("two", 0, 0, 8, Tag(2));
  r.AddVariant("Two", 0, 0, 7, Tag(3));
  r.AddVariant("Six", 0, 0, 7, Tag(4));  // a carrier entry holding only this variant
  r.RemoveStatus(7);
  EXPECT_EQ(Keys(r), (std::vector<std::string>{"two"}));
  EXPECT_TRUE(r.FindEntry("two")->CSAdd.empty());
  EXPECT_EQ(log.calls.size(), 3u);
}

TEST(Reader, EveryPropertiesIsDisposedOnceVariantsFirst) {
  DisposeLog log;
  {
    TReader r;
    log.Attach(r);
    r.AddDelimiter("+", 1, 43, Tag(1));
    r.AddDelimiter("+", 2, 43, Tag(2));  // replaces: 1 goes now
    r.AddDelimiter("+", 2, 43, Tag(2));  // same properties again: nothing to free
    r.AddWord("w", 3, 0, 7, Tag(3));
    r.AddVariant("W", 4, 0, 8, Tag(4));
    r.AddWord("n", 5, 0, 7, nullptr);  // null properties are never reported
  }
  EXPECT_EQ(log.calls,
            (std::vector<std::pair<int32_t, void*>>{{1, Tag(1)}, {2, Tag(2)}, {4, Tag(4)}, {3, Tag(3)}}));
}

TEST(Reader, DisposeErrorReachesCallerAfterTheChangeIsDone) {
  TReader r;
  int calls = 0;
  r.OnDisposeProperties = [&](TReader&, int32_t, void*) {
    ++calls;
    throw std::runtime_error("owner failed");
  };
  r.AddWord("w", 0, 0, 7, Tag(1));
  r.AddVariant("W", 0, 0, 8, Tag(2));
  EXPECT_THROW(r.RemoveWord("w"), std::runtime_error);
  EXPECT_EQ(calls, 1);  // the entry's own word, blanked; the variant stays
  EXPECT_THROW(r.RemoveStatus(0), std::runtime_error);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(Keys(r).empty());
  r.AddDelimiter("w", 0, 1, Tag(3));
  EXPECT_TRUE(r.IsDelimiterChar('w'));  // the table is current despite the error
}

TEST(Reader, MainConfiguration) {
  TReader r;
  ConfigureMainReader(r);
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(r.IsBlank(static_cast<char>(c)), c <= 32 && c != 10 && c != 13) << c;
  }
  EXPECT_TRUE(r.IsDelimiter("\n"));
  EXPECT_EQ(r.FindEntry("\r")->KeyNum, 13);
  EXPECT_FALSE(r.IsDelimiter("_"));
  EXPECT_EQ(Keys(r).size(), 31u);
  // A line break is a token of its own, never part of the next token's blanks.
  auto toks = test::ScanAll(r, "a \r\n b");
  ASSERT_EQ(toks.size(), 4u);
  EXPECT_EQ(toks[1].Text, "\r");
  EXPECT_EQ(toks[1].Blanks, " ");
  EXPECT_EQ(toks[2].Blanks, "");
  EXPECT_EQ(toks[3].Blanks, " ");
}

}  // namespace
}  // namespace brindle
