#include "project/FileIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempDir.h"

namespace brindle {
namespace {

using test::TempDir;

TEST(WriteFileAtomically, ReplacesThroughALinkAndKeepsTheLink) {
  TempDir dir;
  std::string real = dir.File("real.txt", "old");
  std::string link = dir / "link.txt";
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  std::string seen;
  WriteFileAtomically(link, "new", 0600, true, [&](const std::string& target) { seen = target; });
  EXPECT_EQ(seen, real);
  struct stat st;
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFileBytes(real), "new");
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"link.txt", "real.txt"}));
}

TEST(WriteFileAtomically, AFailureLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  std::string path = dir.File("keep.txt", "old");
  EXPECT_THROW(WriteFileAtomically(path, "new", 0666, false,
                                   [](const std::string&) { throw std::runtime_error("refused"); }),
               std::runtime_error);
  EXPECT_EQ(ReadFileBytes(path), "old");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.txt"});
  try {
    WriteFileAtomically(dir / "no/such/folder.txt", "x");
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + (dir / "no/such/folder.txt") +
                                         "\". No such file or directory");
  }
}

TEST(WriteFileAtomically, ANewFileFollowsTheUmaskAndAReplacedOneKeepsItsMode) {
  TempDir dir;
  mode_t old = ::umask(022);
  WriteFileAtomically(dir / "new.txt", "x");
  std::string kept = dir.File("kept.txt", "x");
  ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
  WriteFileAtomically(kept, "y");
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat((dir / "new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(::stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(PathParts, SplitAtTheLastSlash) {
  EXPECT_EQ(FolderPart("/a/b/c.brp"), "/a/b/");
  EXPECT_EQ(FileNamePart("/a/b/c.brp"), "c.brp");
  EXPECT_EQ(FolderPart("c.brp"), "");
  EXPECT_EQ(FileNamePart("c.brp"), "c.brp");
}

}  // namespace
}  // namespace brindle
