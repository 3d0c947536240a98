#include "build/Expansion.h"

#include <gtest/gtest.h>

#include "project/Project.h"
#include "project/Records.h"
#include "scan/Reader.h"

namespace brindle {
namespace {

class ExpansionTest : public ::testing::Test {
 protected:
  ExpansionTest() { ConfigureMainReader(reader_); }

  void Global(const std::string& name, const std::string& value) { project_.GetVars().push_back({name, value}); }

  std::string Expand(const std::string& text, int32_t page = -1) {
    TExpander e(project_, reader_);
    return e.ExpandText(text, page);
  }

  Project project_;
  TReader reader_;
};

TEST_F(ExpansionTest, TextsWithoutPlaceholdersComeBackUnchanged) {
  Global("a", "A");
  for (const char* t : {"", "plain text", "100% sure", "%%", "ends with %", "% a%", "%a %", "%", "%%%"})
    EXPECT_EQ(Expand(t), t) << t;
}

TEST_F(ExpansionTest, RejectedPlaceholderClosingSignCanOpenTheNext) {
  Global("b", "B");
  EXPECT_EQ(Expand("%a%b%"), "%aB");
  EXPECT_EQ(Expand("%b%%b%"), "BB");
  EXPECT_EQ(Expand("x%b%y"), "xBy");
}

TEST_F(ExpansionTest, NamesMatchIgnoringAsciiCaseOnly) {
  Global("title", "T");
  Global("\xC3\xA9t\xC3\xA9", "summer");  // UTF-8 bytes compare exactly
  EXPECT_EQ(Expand("%Title%/%TITLE%"), "T/T");
  EXPECT_EQ(Expand("%\xC3\xA9t\xC3\xA9%"), "summer");
  EXPECT_EQ(Expand("%\xC3\x89T\xC3\x89%"), "%\xC3\x89T\xC3\x89%");
}

TEST_F(ExpansionTest, NumbersAndDelimitedNamesAreNeverPlaceholders) {
  for (const char* n : {"2", "2010", "1e5", "a-b", "x.y", "1.5"}) Global(n, "V");
  Global("2a", "two-a");
  Global("a2", "a-two");
  Global("a_b", "under");
  EXPECT_EQ(Expand("%2% %2010% %1e5% %a-b% %x.y% %1.5%"), "%2% %2010% %1e5% %a-b% %x.y% %1.5%");
  EXPECT_EQ(Expand("%2a% %a2% %a_b%"), "two-a a-two under");
}

TEST_F(ExpansionTest, PlaceholdersDoNotSpanLines) {
  Global("name", "N");
  EXPECT_EQ(Expand("%na\r\nme%"), "%na\r\nme%");
  EXPECT_EQ(Expand("%name%\r\n%name%"), "N\r\nN");
}

TEST_F(ExpansionTest, FirstGlobalInStoredOrderWins) {
  Global("X", "first");
  Global("x", "second");
  EXPECT_EQ(Expand("%x%"), "first");
}

TEST_F(ExpansionTest, GlobalValuesAreInsertedAsStoredAndNotRescanned) {
  Global("a", "%b%");
  Global("b", "B");
  EXPECT_EQ(Expand("%a%"), "%b%");
}

TEST_F(ExpansionTest, PageLookupOrderAndBounds) {
  Global("g", "global");
  Global("shared", "from-global");
  project_.GetTemps().push_back({"T", "", {"declared", "shared"}});
  project_.GetTemps().push_back({"t", "", {"second"}});  // every template of that name counts
  TPage page;
  page.Name = "P";
  page.Template = "T";
  page.Values = {{"Value", "v(%g%)"}, {"self", "%self%/%value%"}};
  project_.GetPages().push_back(page);

  EXPECT_EQ(Expand("%value%|%declared%|%second%|%g%|%self%", 0), "v(global)|||global|%self%/%value%");
  // A page value beats a global in one pass; the build's first pass is what
  // gives globals precedence.
  project_.GetPages()[0].Values.push_back({"g", "page"});
  EXPECT_EQ(Expand("%g%", 0), "page");
  // Outside the pages only globals are seen.
  for (int32_t index : {-1, 1, 99, -5})
    EXPECT_EQ(Expand("%value%|%declared%|%g%", index), "%value%|%declared%|global") << index;
}

TEST_F(ExpansionTest, LargeTextIsExpandedExactly) {
  Global("v", "<value>");
  std::string in, want;
  for (int i = 0; i < 20000; ++i) {
    in += "word %v% 5% %";
    in += std::to_string(i);
    in += "% ";
    want += "word <value> 5% %" + std::to_string(i) + "% ";
  }
  EXPECT_EQ(Expand(in), want);
}

TEST_F(ExpansionTest, StreamedExpansionMatchesWholeResultAcrossChunkBoundaries) {
  Global("v", std::string(100, 'V'));  // longer than a chunk
  std::string in;
  for (int i = 0; i < 500; ++i) in += "ab%v%c%" + std::to_string(i % 7) + "%";
  std::string want = Expand(in);
  for (size_t capacity : {64, 100, 4096}) {
    std::string got;
    std::vector<size_t> pieces;
    ChunkWriter w(
        [&](std::string_view p) {
          got.append(p);
          pieces.push_back(p.size());
        },
        capacity);
    TExpander e(project_, reader_);
    e.ExpandText(in, -1, w);
    w.Flush();
    EXPECT_EQ(got, want) << capacity;
    for (size_t n : pieces) EXPECT_GT(n, 0u);
  }
}

}  // namespace
}  // namespace brindle
