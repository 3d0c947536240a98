#include "build/Build.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "project/FileIO.h"
#include "project/Project.h"
#include "project/Records.h"
#include "scan/Reader.h"

namespace brindle {
namespace {

TEST(ComposeOutputPath, JoinsFolderAndFileName) {
  EXPECT_EQ(ComposeOutputPath("index.html", "/site", ""), "/site/index.html");
  EXPECT_EQ(ComposeOutputPath("index.html", "/site/", ""), "/site/index.html");
  EXPECT_EQ(ComposeOutputPath("index.html", "C:\\site\\", ""), "C:\\site\\index.html");
  EXPECT_EQ(ComposeOutputPath("/index.html", "/site", ""), "/site/index.html");
  EXPECT_EQ(ComposeOutputPath("\\index.html", "/site", ""), "/site/index.html");
  EXPECT_EQ(ComposeOutputPath("", "/site", ""), "/site/");
}

TEST(ComposeOutputPath, DrivePartsAndEmptyFolder) {
  EXPECT_EQ(ComposeOutputPath("D:\\out\\a.html", "/site", ""), "D:\\out\\a.html");
  EXPECT_EQ(ComposeOutputPath("\\\\server\\share\\a.html", "/site", ""), "\\\\server\\share\\a.html");
  EXPECT_EQ(ComposeOutputPath("a.html", "", "/home/me/shop.brp"), "/home/me/a.html");
  EXPECT_EQ(ComposeOutputPath("sub/a.html", "", "/home/me/shop.brp"), "/home/me/sub/a.html");
  EXPECT_EQ(ComposeOutputPath("a.html", "", ""), "a.html");
}

TEST(NormalizeLines, EveryLineEndsWithCrLf) {
  EXPECT_EQ(NormalizeLines(""), "");
  EXPECT_EQ(NormalizeLines("a"), "a\r\n");
  EXPECT_EQ(NormalizeLines("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(NormalizeLines("a\r\n"), "a\r\n");
  EXPECT_EQ(NormalizeLines("\n\n"), "\r\n\r\n");
  EXPECT_EQ(NormalizeLines("a\r\r\nb"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(NormalizeLines(std::string("ab\0cd\n", 6)), "ab\r\n");
  EXPECT_EQ(NormalizeLines(std::string("\0ab", 3)), "");
}

class BuildTest : public ::testing::Test {
 protected:
  BuildTest() {
    ConfigureMainReader(reader_);
    dir_ = std::filesystem::temp_directory_path() / ("brindle-build-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~BuildTest() override { std::filesystem::remove_all(dir_); }

  TPage& AddPage(const std::string& name, const std::string& tmpl, const std::string& file) {
    TPage p;
    p.Name = name;
    p.Template = tmpl;
    p.LocalFolder = dir_.string();
    p.FileName = file;
    project_.GetPages().push_back(p);
    return project_.GetPages().back();
  }

  std::string Read(const std::string& file) { return ReadFileBytes((dir_ / file).string()); }

  Project project_;
  TReader reader_;
  std::filesystem::path dir_;
};

TEST_F(BuildTest, WorkedExampleOfTheTwoPasses) {
  project_.GetVars() = {{"site", "Demo"}, {"footer", "Page %title% of %site%"}};
  project_.GetTemps().push_back({"T", "%title% - %site% / %footer% / %note% / %missing%", {"title", "note"}});
  AddPage("P", "T", "p.html").Values = {{"title", "Home (%site%)"}};
  TSiteBuilder b(project_, reader_, "");
  auto path = b.BuildPage("p");
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, (dir_ / "p.html").string());
  EXPECT_EQ(Read("p.html"), "Home (Demo) - Demo / Page Home (Demo) of Demo /  / %missing%\r\n");
}

TEST_F(BuildTest, GlobalBeatsPageValueOfTheSameName) {
  project_.GetVars() = {{"x", "global"}};
  project_.GetTemps().push_back({"T", "%x%", {"x"}});
  AddPage("P", "T", "p.html").Values = {{"x", "page"}};
  TSiteBuilder(project_, reader_, "").BuildPage("P");
  EXPECT_EQ(Read("p.html"), "global\r\n");
}

TEST_F(BuildTest, MissingTemplateWritesAnEmptyFileAndUnknownPageDoesNothing) {
  AddPage("P", "nope", "p.html");
  TSiteBuilder b(project_, reader_, "");
  EXPECT_FALSE(b.BuildPage("Q"));
  ASSERT_TRUE(b.BuildPage("P"));
  EXPECT_EQ(Read("p.html"), "");
}

TEST_F(BuildTest, BuildAllStopsAtThePageThatCannotBeWritten) {
  project_.GetTemps().push_back({"T", "x", {}});
  AddPage("A", "T", "a.html");
  AddPage("B", "T", "missing-folder/b.html");
  AddPage("C", "T", "c.html");
  TSiteBuilder b(project_, reader_, "");
  std::vector<std::string> written;
  b.OnWritten = [&](const std::string& p) { written.push_back(p); };
  try {
    b.BuildAll();
    FAIL() << "expected EFCreateError";
  } catch (const EFCreateError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + (dir_ / "missing-folder/b.html").string() + "\". "),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(written, std::vector<std::string>{(dir_ / "a.html").string()});
  EXPECT_FALSE(FileExists((dir_ / "c.html").string()));
}

TEST_F(BuildTest, ManyPagesAreWrittenAndReportedInOrder) {
  project_.GetTemps().push_back({"T", "%n%", {"n"}});
  std::vector<std::string> want;
  for (int i = 0; i < 300; ++i) {
    AddPage("P" + std::to_string(i), "T", std::to_string(i) + ".html").Values = {{"n", std::to_string(i)}};
    want.push_back((dir_ / (std::to_string(i) + ".html")).string());
  }
  // A page in the middle that cannot be written stops everything after it.
  project_.GetPages()[200].FileName = "no/such/folder.html";
  TSiteBuilder b(project_, reader_, "");
  std::vector<std::string> written;
  b.OnWritten = [&](const std::string& p) { written.push_back(p); };
  EXPECT_THROW(b.BuildAll(), EFCreateError);
  want.resize(200);
  EXPECT_EQ(written, want);
  EXPECT_EQ(Read("199.html"), "199\r\n");
  EXPECT_FALSE(FileExists((dir_ / "201.html").string()));
  EXPECT_FALSE(FileExists((dir_ / "299.html").string()));
}

TEST_F(BuildTest, BuildAllBuildsPagesWhoseNamesDifferOnlyInCase) {
  project_.GetTemps().push_back({"T", "%v%", {"v"}});
  AddPage("Page", "T", "1.html").Values = {{"v", "one"}};
  AddPage("PAGE", "T", "2.html").Values = {{"v", "two"}};
  TSiteBuilder(project_, reader_, "").BuildAll();
  EXPECT_EQ(Read("1.html"), "one\r\n");
  EXPECT_EQ(Read("2.html"), "two\r\n");
}

TEST_F(BuildTest, UploadStepRunsOnlyForFlaggedPagesAfterTheWrite) {
  project_.GetTemps().push_back({"T", "x", {}});
  AddPage("A", "T", "a.html");
  AddPage("B", "T", "b.html").CopyToFtp = true;
  project_.GetPages()[1].FtpFolder = "www";
  TSiteBuilder b(project_, reader_, "");
  std::vector<std::string> uploads;
  b.OnUpload = [&](const TPage& page, const std::string& path) {
    EXPECT_TRUE(FileExists(path));
    uploads.push_back(page.FtpFolder + ":" + path);
  };
  b.BuildAll();
  EXPECT_EQ(uploads, std::vector<std::string>{"www:" + (dir_ / "b.html").string()});
}

TEST_F(BuildTest, TemplateLineEndsAndNulAreNormalised) {
  project_.GetTemps().push_back({"T", std::string("a\nb\rc\0d", 7), {}});
  AddPage("P", "T", "p.html");
  TSiteBuilder(project_, reader_, "").BuildPage("P");
  EXPECT_EQ(Read("p.html"), "a\r\nb\r\nc\r\n");
}

}  // namespace
}  // namespace brindle

namespace brindle {
namespace {

// A page whose file name happens to be the project's own (a slip of the
// keyboard) must not wipe the project out; the pages before it are still
// written and reported, whatever way the path is spelled.
TEST_F(BuildTest, APageIsNeverWrittenOverTheProjectFile) {
  const std::string projectPath = (dir_ / "site.brp").string();
  project_.GetTemps().push_back({"T", "page", {}});
  AddPage("A", "T", "a.html");
  AddPage("B", "T", "b.html");
  AddPage("C", "T", "site.brp").LocalFolder = "";
  project_.Save(projectPath);
  const std::string saved = ReadFileBytes(projectPath);

  auto expectRefused = [&](const std::function<void(TSiteBuilder&)>& build, std::vector<std::string> want) {
    TSiteBuilder b(project_, reader_, projectPath);
    std::vector<std::string> written;
    b.OnWritten = [&](const std::string& p) { written.push_back(p); };
    try {
      build(b);
      ADD_FAILURE() << "the build went through";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + projectPath + "\". "), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(written, want);
    EXPECT_EQ(ReadFileBytes(projectPath), saved);
  };
  const std::vector<std::string> before = {(dir_ / "a.html").string(), (dir_ / "b.html").string()};
  expectRefused([](TSiteBuilder& b) { b.BuildAll(); }, before);
  expectRefused([](TSiteBuilder& b) { b.BuildPage("c"); }, {});
  expectRefused([](TSiteBuilder& b) { b.BuildPages({2}); }, {});
  EXPECT_EQ(Read("a.html"), "page\r\n");

  // Another spelling of the same file is refused too.
  project_.GetPages()[2].LocalFolder = (dir_ / "." / "").string();
  TSiteBuilder b(project_, reader_, projectPath);
  EXPECT_ANY_THROW(b.BuildAll());
  EXPECT_EQ(ReadFileBytes(projectPath), saved);
}

}  // namespace
}  // namespace brindle
