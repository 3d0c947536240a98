#include "ftp/Registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "project/FileIO.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "brindle-reg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    store_ = dir_ + "/Vantorel/Brindle 3.conf";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_, store_;
};

TEST_F(RegistryTest, OpeningWithoutCreatingNeverMakesTheStore) {
  TRegistry reg(store_);
  EXPECT_FALSE(reg.OpenKey(false));
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_FALSE(fs::exists(dir_ + "/Vantorel"));

  EXPECT_TRUE(reg.OpenKey(true));
  EXPECT_TRUE(fs::is_regular_file(store_));
  EXPECT_EQ(ReadFileBytes(store_), "");
  reg.WriteString("Default Editor", "/usr/bin/ed");
  reg.CloseKey();
  EXPECT_TRUE(reg.OpenKey(false));
  EXPECT_TRUE(reg.OpenKey(true));  // creating again keeps what is there
  EXPECT_EQ(reg.ReadString("Default Editor"), "/usr/bin/ed");
}

TEST_F(RegistryTest, StoreThatIsNoRegularFileDoesNotOpen) {
  fs::create_directories(store_);  // a folder where the file should be
  TRegistry reg(store_);
  EXPECT_FALSE(reg.OpenKey(false));
  EXPECT_FALSE(reg.OpenKey(true));
  EXPECT_TRUE(fs::is_directory(store_));
}

TEST_F(RegistryTest, ValuesRoundTripEveryByte) {
  TRegistry reg(store_);
  ASSERT_TRUE(reg.OpenKey(true));
  std::string awkward = "a=b\\c\r\nd\0e\x7f\xe9 x\\x41 "s;
  reg.WriteString("Ftp Settings", awkward);
  reg.WriteString("Default Editor", "");
  reg.WriteString("we=ird\nname", "v");

  TRegistry again(store_);
  ASSERT_TRUE(again.OpenKey(false));
  EXPECT_EQ(again.ReadString("Ftp Settings"), awkward);
  EXPECT_EQ(again.ReadString("FTP SETTINGS"), awkward);  // names ignore case
  EXPECT_TRUE(again.ValueExists("Default Editor"));
  EXPECT_EQ(again.ReadString("Default Editor"), "");
  EXPECT_EQ(again.ReadString("we=ird\nname"), "v");
  EXPECT_FALSE(again.ValueExists("Missing"));
  EXPECT_EQ(again.ReadString("Missing"), "");

  // Every entry stays on its own line: the file has exactly three.
  std::string bytes = ReadFileBytes(store_);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 3);
}

TEST_F(RegistryTest, WriteKeepsUnknownLinesAndDropsDuplicates) {
  fs::create_directories(dir_ + "/Vantorel");
  WriteFileBytes(store_,
                 "# my notes\r\n"
                 "\n"
                 "garbage without equals\n"
                 "ftp settings=sz:/old\n"
                 "Other=sz:keep\n"
                 "Ftp Settings=sz:/older\n"
                 "=sz:no name");
  TRegistry reg(store_);
  ASSERT_TRUE(reg.OpenKey(false));
  EXPECT_EQ(reg.ReadString("Ftp Settings"), "/old");  // first line wins
  reg.WriteString("Ftp Settings", "/new");
  EXPECT_EQ(ReadFileBytes(store_),
            "# my notes\n"
            "\n"
            "garbage without equals\n"
            "Ftp Settings=sz:/new\n"
            "Other=sz:keep\n"
            "=sz:no name\n");
}

TEST_F(RegistryTest, WrongShapeFailsToReadAndIsReplacedByWrite) {
  fs::create_directories(dir_ + "/Vantorel");
  TRegistry reg(store_);
  for (const char* line : {"Ftp Settings=dword:1\n", "Ftp Settings=/no/type\n",
                           "Ftp Settings=sz:bad\\q escape\n", "Ftp Settings=sz:cut\\x4\n"}) {
    SCOPED_TRACE(line);
    WriteFileBytes(store_, line);
    ASSERT_TRUE(reg.OpenKey(false));
    EXPECT_TRUE(reg.ValueExists("Ftp Settings"));
    try {
      reg.ReadString("Ftp Settings");
      ADD_FAILURE() << "no exception";
    } catch (const ERegistryException& e) {
      EXPECT_STREQ(e.what(), "Invalid data type for 'Ftp Settings'");
    }
    reg.WriteString("Ftp Settings", "/fixed");
    EXPECT_EQ(reg.ReadString("Ftp Settings"), "/fixed");
  }
}

TEST_F(RegistryTest, WritesReplaceAtomicallyAndLeaveNoTemporaryFile) {
  TRegistry reg(store_);
  ASSERT_TRUE(reg.OpenKey(true));
  reg.WriteString("Ftp Settings", "/a");
  // A reader that had the old file open keeps seeing it whole: the new one
  // was renamed into place, not written over it.
  int old = ::open(store_.c_str(), O_RDONLY);
  ASSERT_GE(old, 0);
  reg.WriteString("Ftp Settings", "/b");
  char buf[64];
  ssize_t n = ::read(old, buf, sizeof buf);
  ::close(old);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "Ftp Settings=sz:/a\n");
  EXPECT_EQ(reg.ReadString("Ftp Settings"), "/b");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ + "/Vantorel"), fs::directory_iterator()), 1);
}

TEST_F(RegistryTest, WriteToAVanishedStoreFailsAndDoesNotRecreateIt) {
  TRegistry reg(store_);
  ASSERT_TRUE(reg.OpenKey(true));
  fs::remove(store_);
  EXPECT_EQ(reg.ReadString("Ftp Settings"), "");
  try {
    reg.WriteString("Ftp Settings", "/x");
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Ftp Settings'");
  }
  EXPECT_FALSE(fs::exists(store_));
}

// Sets an environment variable for one scope, restoring it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1); else ::unsetenv(name_);
  }
 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RegistryStorePathTest, OverrideThenXdgThenHome) {
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv over("BRINDLE_CONFIG", "/tmp/test.conf");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(RegistryStorePath(), "/tmp/test.conf");
  }
  ScopedEnv over("BRINDLE_CONFIG", "");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(RegistryStorePath(), "/xdg/Vantorel/Brindle 3.conf");
  }
  for (const char* xdgValue : {static_cast<const char*>(nullptr), "", "relative/cfg"}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", xdgValue);
    EXPECT_EQ(RegistryStorePath(), "/home/someone/.config/Vantorel/Brindle 3.conf");
  }
}

}  // namespace
}  // namespace brindle
