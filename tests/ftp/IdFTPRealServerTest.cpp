// The FTP client against a real server (pyftpdlib): files arrive byte for
// byte in active and passive mode, and refusals surface as errors.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ftp/FtpTestUtil.h"
#include "ftp/IdFTP.h"
#include "ftp/PyFtpServer.h"

namespace brindle {
namespace {

class FtpRealServer : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    home = scratch.Path() + "/home";
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((home + "/www").c_str(), 0755), 0);
    server = std::make_unique<test::PyFtpServer>(home, scratch.Path());
    ftp.Host = "127.0.0.1";
    ftp.Port = server->Port();
    ftp.Username = test::PyFtpServer::kUser;
    ftp.Password = test::PyFtpServer::kPassword;
    ftp.ReplyTimeout = 20000;
    ftp.Passive = GetParam();
  }
  void TearDown() override {
    ftp.CloseConnection();
    server.reset();
  }

  test::TempDir scratch;
  std::string home;
  std::unique_ptr<test::PyFtpServer> server;
  TIdFTP ftp;
};

TEST_P(FtpRealServer, StoredFilesArriveByteForByte) {
  const std::string small = "<p>Hello</p>\r\n";
  const std::string big = test::BinaryBytes(5 * 1024 * 1024 + 123, 7);
  std::string smallFile = scratch.File("small.html", small);
  std::string emptyFile = scratch.File("empty.html", "");
  std::string bigFile = scratch.File("big.bin", big);

  // One connection per file, as the build uploads pages.
  struct Upload {
    std::string local, remote;
    TIdFTPTransferType type;
  } uploads[] = {{smallFile, "small.html", ftBinary}, {emptyFile, "empty.html", ftASCII},
                 {bigFile, "big.bin", ftBinary}, {smallFile, "text.html", ftASCII}};
  for (const Upload& u : uploads) {
    ftp.ConnectAndLogin();
    ftp.ChangeFolder("www");
    ftp.SetTransferType(u.type);
    ftp.StoreFile(u.local, u.remote, false);
    ftp.CloseConnection();
  }
  EXPECT_EQ(ReadFileBytes(home + "/www/small.html"), small);
  EXPECT_EQ(ReadFileBytes(home + "/www/empty.html"), "");
  EXPECT_TRUE(ReadFileBytes(home + "/www/big.bin") == big);
  // The client sends the same bytes in ASCII mode; the server stores text in
  // its own line ends.
  EXPECT_EQ(ReadFileBytes(home + "/www/text.html"), "<p>Hello</p>\n");
}

TEST_P(FtpRealServer, MissingFolderIsRefused) {
  ftp.ConnectAndLogin();
  try {
    ftp.ChangeFolder("no/such/folder");
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 550);
  }
  EXPECT_TRUE(ftp.IsConnected());
}

TEST_P(FtpRealServer, WrongPasswordFailsAndCloses) {
  ftp.Password = "wrong";
  try {
    ftp.ConnectAndLogin();
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 530);
  }
  EXPECT_FALSE(ftp.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpRealServer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? std::string("Passive") : std::string("Active");
                         });

}  // namespace
}  // namespace brindle
