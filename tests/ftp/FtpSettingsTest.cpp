#include "ftp/FtpSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "project/FileIO.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

TEST(FtpSettingsLinesTest, SplitsAtEveryLineEndAndStopsAtNul) {
  struct Case { std::string text; Lines lines; };
  const Case cases[] = {
      {"", {}},
      {"host", {"host"}},
      {"host\r\n", {"host"}},
      {"h\r\nu\r\np\r\n", {"h", "u", "p"}},
      {"h\nu\np\n", {"h", "u", "p"}},
      {"h\ru\rp\r", {"h", "u", "p"}},
      {"h\r\nu\np\rx", {"h", "u", "p", "x"}},
      {"h\r\nu\r\n\r\n", {"h", "u", ""}},      // empty password keeps its line
      {"\r\r\n\n", {"", "", ""}},              // CR, CR LF, LF: three empty lines
      {"  h \r\n\tu\r\n p ", {"  h ", "\tu", " p "}},  // never trimmed
      {"h\r\nus\0er\r\npass\r\n"s, {"h", "us"}},
      {"\0h\r\n"s, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(SplitSettingsLines(c.text), c.lines);
  }
}

TEST(FtpSettingsLinesTest, MissingLinesKeepEarlierTexts) {
  TFtpSettings s{"oldhost", "olduser", "oldpass"};
  ApplySettingsLines(s, {});
  EXPECT_EQ(s.Host, "oldhost");
  ApplySettingsLines(s, {"newhost"});
  EXPECT_EQ(s.Host, "newhost");
  EXPECT_EQ(s.UserId, "olduser");
  EXPECT_EQ(s.Password, "oldpass");
  ApplySettingsLines(s, {"h", "", "p", "ignored"});
  EXPECT_EQ(s.UserId, "");
  EXPECT_EQ(s.Password, "p");
}

TEST(FtpSettingsLinesTest, TargetNameGetsTxtUnlessItHasIt) {
  EXPECT_EQ(SettingsTargetName("/d/site"), "/d/site.txt");
  EXPECT_EQ(SettingsTargetName("/d/site.txt"), "/d/site.txt");
  EXPECT_EQ(SettingsTargetName("/d/SITE.TXT"), "/d/SITE.TXT");
  EXPECT_EQ(SettingsTargetName("/d/site.Txt"), "/d/site.Txt");
  EXPECT_EQ(SettingsTargetName("/d/a.htm"), "/d/a.htm.txt");
  EXPECT_EQ(SettingsTargetName("/d/a.txt.bak"), "/d/a.txt.bak.txt");
  EXPECT_EQ(SettingsTargetName("/d.txt/site"), "/d.txt/site.txt");  // folder's dot ignored
}

class FtpSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "brindle-ftp-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    store_ = dir_ + "/store.conf";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Creates the store, as the installer or the visual editor would.
  void CreateStore() {
    TRegistry reg(store_);
    ASSERT_TRUE(reg.OpenKey(true));
  }
  std::string Remembered() {
    TRegistry reg(store_);
    EXPECT_TRUE(reg.OpenKey(false));
    return reg.ReadString(kFtpSettingsValue);
  }
  void Remember(const std::string& path) {
    TRegistry reg(store_);
    ASSERT_TRUE(reg.OpenKey(true));
    reg.WriteString(kFtpSettingsValue, path);
  }

  std::string dir_, store_;
};

TEST_F(FtpSettingsTest, WrittenFileHasThreeCrLfLinesAndMode0600) {
  std::string path = dir_ + "/s.txt";
  WriteFileBytes(path, "old contents that are longer\n");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

  WriteSettingsFile(path, {"", " user ", ""});
  EXPECT_EQ(ReadFileBytes(path), "\r\n user \r\n\r\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  TFtpSettings back{"x", "y", "z"};
  ApplySettingsLines(back, ReadSettingsFile(path));
  EXPECT_EQ(back.Host, "");
  EXPECT_EQ(back.UserId, " user ");
  EXPECT_EQ(back.Password, "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FtpSettingsTest, FirstStartWithoutStoreLoadsNothingAndCreatesNothing) {
  TFtpSettings s;
  TRegistry reg(store_);
  LoadRememberedSettings(s, reg);
  EXPECT_EQ(s.Host, "");
  // Load and save still use the file, and still create no store.
  LoadSettingsFrom(s, SaveSettingsTo({"h", "u", "p"}, dir_ + "/s.txt", reg), reg);
  EXPECT_EQ(s.Password, "p");
  EXPECT_FALSE(fs::exists(store_));

  s = {};
  CreateStore();  // a store without the value: also nothing
  LoadRememberedSettings(s, reg);
  EXPECT_EQ(s.Host, "");
}

TEST_F(FtpSettingsTest, SaveThenRestartBringsTheTextsBack) {
  CreateStore();
  TRegistry reg(store_);
  TFtpSettings typed{"ftp.example.org", "me", "  secret  "};
  std::string written = SaveSettingsTo(typed, dir_ + "/site", reg);
  EXPECT_EQ(written, dir_ + "/site.txt");
  EXPECT_EQ(Remembered(), written);
  EXPECT_EQ(ReadFileBytes(written), "ftp.example.org\r\nme\r\n  secret  \r\n");

  TFtpSettings restarted;
  LoadRememberedSettings(restarted, reg);
  EXPECT_EQ(restarted.Host, "ftp.example.org");
  EXPECT_EQ(restarted.UserId, "me");
  EXPECT_EQ(restarted.Password, "  secret  ");
}

TEST_F(FtpSettingsTest, SaveRemembersExactlyTheNameWritten) {
  CreateStore();
  TRegistry reg(store_);
  for (const char* chosen : {"/A.TXT", "/a.htm"}) {
    std::string target = SaveSettingsTo({"h", "u", "p"}, dir_ + chosen, reg);
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(Remembered(), target);
  }
  EXPECT_TRUE(fs::exists(dir_ + "/A.TXT"));
  EXPECT_TRUE(fs::exists(dir_ + "/a.htm.txt"));
  EXPECT_FALSE(fs::exists(dir_ + "/a.htm"));
}

TEST_F(FtpSettingsTest, RelativeNamesAreRememberedAbsolute) {
  CreateStore();
  TRegistry reg(store_);
  std::string cwd = fs::current_path().string();
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
  std::string target = SaveSettingsTo({"h", "u", "p"}, "rel", reg);
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  EXPECT_EQ(target, dir_ + "/rel.txt");
  EXPECT_EQ(Remembered(), dir_ + "/rel.txt");
}

TEST_F(FtpSettingsTest, LoadOfShortFilesChangesOnlyWhatTheyHold) {
  CreateStore();
  TRegistry reg(store_);
  TFtpSettings s{"h0", "u0", "p0"};
  WriteFileBytes(dir_ + "/one.txt", "h1");
  LoadSettingsFrom(s, dir_ + "/one.txt", reg);
  EXPECT_EQ(s.Host, "h1");
  EXPECT_EQ(s.UserId, "u0");
  EXPECT_EQ(s.Password, "p0");

  WriteFileBytes(dir_ + "/empty.txt", "");
  LoadSettingsFrom(s, dir_ + "/empty.txt", reg);
  EXPECT_EQ(s.Host, "h1");
  EXPECT_EQ(Remembered(), dir_ + "/empty.txt");
}

TEST_F(FtpSettingsTest, UnopenableFileIsRememberedBeforeTheReadFails) {
  CreateStore();
  TRegistry reg(store_);
  std::string path = dir_ + "/folder.txt";
  fs::create_directory(path);  // opens as nothing a settings file could be
  TFtpSettings s{"h0", "u0", "p0"};
  EXPECT_THROW(LoadSettingsFrom(s, path, reg), EFOpenError);
  EXPECT_EQ(s.Host, "h0");
  EXPECT_EQ(Remembered(), path);

  try {
    SaveSettingsTo(s, path, reg);
    ADD_FAILURE() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + path + "\". ", 0), 0u) << e.what();
  }
  EXPECT_EQ(Remembered(), path);
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(FtpSettingsTest, StartUpFailuresLeaveTheTextsEmpty) {
  std::string missing = dir_ + "/gone.txt";
  Remember(missing);
  TRegistry reg(store_);
  TFtpSettings s;
  try {
    LoadRememberedSettings(s, reg);
    ADD_FAILURE() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), ("Cannot open file \"" + missing + "\". No such file or directory").c_str());
  }
  EXPECT_EQ(s.Host, "");
  EXPECT_EQ(Remembered(), missing);  // unchanged: the next start says the same

  WriteFileBytes(store_, "Ftp Settings=dword:00000001\n");
  try {
    LoadRememberedSettings(s, reg);
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Ftp Settings'");
  }
  EXPECT_EQ(s.Host, "");
  EXPECT_FALSE(reg.IsOpen());
}

}  // namespace
}  // namespace brindle
