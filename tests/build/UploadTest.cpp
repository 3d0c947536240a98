// Publishing a built page: the order of the client calls, the status texts
// the user sees, and every failure reduced to a result with its reason.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "build/Upload.h"
#include "ftp/FtpTestUtil.h"
#include "ftp/ScriptedFtpServer.h"

namespace brindle {
namespace {

using test::ScriptedFtpServer;
using Texts = std::vector<std::string>;

class UploadPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ftp.Port = server.Port();
    ftp.ReplyTimeout = 5000;
    ftp.SetTransferType(ftASCII);  // as the main window configures its client
  }
  void TearDown() override { server.Stop(); }

  UploadResult Upload(const std::string& folder, const std::string& path) {
    return UploadPage(ftp, folder, path, "127.0.0.1", "webmaster", "pw",
                      [this](const std::string& s) { status.push_back(s); });
  }

  ScriptedFtpServer server;
  TIdFTP ftp;
  test::TempDir dir;
  Texts status;
};

TEST_F(UploadPageTest, StoresThePageUnderItsFileNameInItsFolder) {
  std::string page = dir.File("index.html", "<html></html>\r\n");
  server.Login().On("250 ok").Store();
  server.Start();
  UploadResult r = Upload("www/news", page);
  EXPECT_TRUE(r.Ok) << r.Reason;
  EXPECT_EQ(r.Reason, "");
  EXPECT_FALSE(ftp.IsConnected());
  server.Join();
  Texts cmds = server.Commands();
  ASSERT_EQ(cmds.size(), 7u);
  EXPECT_EQ((Texts{cmds[0], cmds[1], cmds[2], cmds[3], cmds[4]}),
            (Texts{"USER webmaster", "PASS pw", "TYPE A", "SYST", "CWD www/news"}));
  EXPECT_EQ(cmds[6], "STOR index.html");
  EXPECT_EQ(server.Data(), Texts{"<html></html>\r\n"});
  EXPECT_EQ(status, (Texts{"Connecting", "Connecting to 127.0.0.1.", "Connected.", "FTP Connected",
                           "Connection established", "Starting FTP transfer", "15 byte sent",
                           "Transfer complete", "Disconnecting.", "", "Disconnected."}));
}

TEST_F(UploadPageTest, EmptyFolderChangesNoFolder) {
  std::string page = dir.File("a.html", "x");
  server.Login().Store();
  server.Start();
  EXPECT_TRUE(Upload("", page).Ok);
  server.Join();
  for (const std::string& c : server.Commands()) EXPECT_NE(c.rfind("CWD", 0), 0u) << c;
  EXPECT_NE(std::find(status.begin(), status.end(), "1 byte sent"), status.end());
}

TEST_F(UploadPageTest, RefusalsFailWithTheServersReasonAndDisconnect) {
  std::string page = dir.File("a.html", "x");
  server.Login().On("550 www/missing: No such file or directory");
  server.Start();
  UploadResult r = Upload("www/missing", page);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Reason, "www/missing: No such file or directory\r\n");
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_EQ(status.back(), "Disconnected.");
  server.Stop();

  // A refused store, on a fresh server: the control connection that StoreFile
  // leaves open is closed all the same.
  ScriptedFtpServer second;
  second.Login().On("200 PORT ok").On("553 Could not create file");
  second.Start();
  ftp.Port = second.Port();
  r = Upload("", page);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Reason, "Could not create file\r\n");
  EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(UploadPageTest, MissingLocalFileFailsBeforeAnyTransfer) {
  server.Login();
  server.Start();
  std::string missing = dir.Path() + "/gone.html";
  UploadResult r = Upload("", missing);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Reason.rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << r.Reason;
  EXPECT_FALSE(ftp.IsConnected());
  server.Join();
  EXPECT_EQ(server.Commands().size(), 4u);
}

TEST_F(UploadPageTest, UnreachableServerFailsWithTheSocketError) {
  test::RefusingPort refusing;
  ftp.Port = refusing.Port();
  std::string page = dir.File("a.html", "x");
  UploadResult r = Upload("", page);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Reason, "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(status, (Texts{"Connecting", "Connecting to 127.0.0.1."}));
  EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(UploadPageTest, TheClientsOwnHandlersStillRunAndComeBack) {
  std::string page = dir.File("a.html", "x");
  server.Login().Store();
  server.Start();
  int own = 0;
  ftp.OnConnected = [&](TIdComponent*) { ++own; };
  EXPECT_TRUE(Upload("", page).Ok);
  EXPECT_EQ(own, 1);
  ASSERT_TRUE(ftp.OnConnected);
  ASSERT_FALSE(ftp.OnStatus);
}

TEST(UploadFileName, IsThePartAfterTheLastSlashOrDriveColon) {
  EXPECT_EQ(UploadFileName("/site/news/index.html"), "index.html");
  EXPECT_EQ(UploadFileName("C:index.html"), "index.html");
  EXPECT_EQ(UploadFileName("index.html"), "index.html");
  EXPECT_EQ(UploadFileName("out/"), "");
  // Only a drive's colon ends the folder part; elsewhere a colon is part of
  // the file's own name.
  EXPECT_EQ(UploadFileName("/site/news/12:30.html"), "12:30.html");
  EXPECT_EQ(UploadFileName("12:30.html"), "12:30.html");
  EXPECT_EQ(UploadFileName("c:/site/x:y.html"), "x:y.html");
}

}  // namespace
}  // namespace brindle
