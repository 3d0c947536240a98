// The FTP client against a scripted server: the replies a real server will
// not give, and the exact commands the client sends.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ftp/FtpTestUtil.h"
#include "ftp/IdAntiFreeze.h"
#include "ftp/IdFTP.h"
#include "ftp/ScriptedFtpServer.h"

namespace brindle {
namespace {

using test::EventLog;
using test::ScriptedFtpServer;
using test::TempDir;
using Action = ScriptedFtpServer::Action;
using Commands = std::vector<std::string>;

class FtpScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.Username = "user";
    ftp.Password = "secret";
    ftp.ReplyTimeout = 5000;
  }
  void TearDown() override {
    ftp.CloseConnection();
    server.Stop();
  }

  ScriptedFtpServer server;
  TIdFTP ftp;
  TempDir dir;
  EventLog log;  // outlives every event the client raises, TearDown's too
};

TEST(RFCReply, ParsesCodesAndDropsFourBytesOfEveryLine) {
  TIdRFCReply r;
  r.Parse({"220-Welcome", "to the host", "220 ready"});  // continuation lines lose 4 bytes too
  EXPECT_EQ(r.NumericCode, 220);
  EXPECT_EQ(r.TextCode, "220");
  EXPECT_EQ(r.Text, (Commands{"Welcome", "he host", "ready"}));
  EXPECT_EQ(r.FormattedText(), "Welcome\r\nhe host\r\nready\r\n");

  r.Parse({"220"});
  EXPECT_EQ(r.NumericCode, 220);
  EXPECT_EQ(r.Text, Commands{""});

  r.Parse({"Hello there"});
  EXPECT_EQ(r.NumericCode, 0);
  EXPECT_EQ(r.TextCode, "Hell");
}

TEST_F(FtpScripted, MultiLineWelcomeWithBlankLinesIsReadBeforeUser) {
  server.ThenRaw("220-Welcome\r\n\r\n   \r\nsecond line\r\n\r\n220 Ready\r\n")
      .On("331 Password required")
      .On("230 Logged in")
      .On("200 Type set")
      .On("215 UNIX Type: L8");
  server.Start();
  ftp.ConnectAndLogin();
  EXPECT_EQ(ftp.WelcomeReply().NumericCode, 220);
  EXPECT_EQ(ftp.WelcomeReply().Text, (Commands{"Welcome", "nd line", "Ready"}));
  EXPECT_EQ(ftp.ServerSystem(), "UNIX Type: L8");
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Commands(), (Commands{"USER user", "PASS secret", "TYPE I", "SYST"}));
}

TEST_F(FtpScripted, UserAnsweredWith230SendsNoPassword) {
  server.Greet("220 hi").On("230 No password needed").On("200 ok").On("215 UNIX");
  server.Start();
  ftp.ConnectAndLogin();
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Commands(), (Commands{"USER user", "TYPE I", "SYST"}));
  EXPECT_EQ(ftp.LoginReply().NumericCode, 230);
}

TEST_F(FtpScripted, EmptyUserAndPasswordAreSentWithTheirBlank) {
  ftp.Username.clear();
  ftp.Password.clear();
  server.Login();
  server.Start();
  ftp.ConnectAndLogin();
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Commands(), (Commands{"USER ", "PASS ", "TYPE I", "SYST"}));
}

TEST_F(FtpScripted, Syst502FailsTheLoginAndCloses) {
  server.Greet("220 hi").On("331 pw").On("230 ok").On("200 ok").On("502 Not implemented");
  server.Start();
  log.Attach(ftp);
  try {
    ftp.ConnectAndLogin();
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 502);
    EXPECT_STREQ(e.what(), "Not implemented\r\n");
  }
  EXPECT_FALSE(ftp.IsConnected());
  ASSERT_GE(log.events.size(), 3u);
  EXPECT_EQ(log.events[log.events.size() - 3], "status Disconnecting.");
  EXPECT_EQ(log.events.back(), "status Disconnected.");
}

TEST_F(FtpScripted, Syst500IsAcceptedAsUnknownSystem) {
  server.Greet("220 hi").On("331 pw").On("230 ok").On("200 ok").On("500 What?");
  server.Start();
  ftp.ConnectAndLogin();
  EXPECT_EQ(ftp.ServerSystem(), "Unknown");
  EXPECT_TRUE(ftp.IsConnected());
}

TEST_F(FtpScripted, RefusedWelcomeAndWrongPasswordRaiseTheReplyText) {
  server.Greet("421 Too many users");
  server.Start();
  try {
    ftp.ConnectAndLogin();
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 421);
    EXPECT_STREQ(e.what(), "Too many users\r\n");
  }
  EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(FtpScripted, ChangeFolderRefusedWith550) {
  server.Login().On("550 No such folder");
  server.Start();
  ftp.ConnectAndLogin();
  try {
    ftp.ChangeFolder("www/missing");
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 550);
    EXPECT_STREQ(e.what(), "No such folder\r\n");
  }
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Commands().back(), "CWD www/missing");
}

TEST_F(FtpScripted, ALineBreakInAnArgumentIsRefusedBeforeAnythingIsSent) {
  // Sent as it stands, "www\r\nDELE index.html" would be two commands, and
  // every later reply would be taken for the answer to the wrong one.
  std::string file = dir.File("a.html", "abc");
  server.Login().On("250 CWD ok");
  server.Start();
  ftp.ConnectAndLogin();
  for (const std::string folder : {"www\r\nDELE index.html", "www\nDELE index.html", "www\r"}) {
    try {
      ftp.ChangeFolder(folder);
      FAIL() << "no exception";
    } catch (const EIdFTPLineBreakInCommand& e) {
      EXPECT_STREQ(e.what(), "Cannot send CWD: its argument contains a line break.");
    }
  }
  EXPECT_THROW(ftp.StoreFile(file, "a\nb.html", false), EIdFTPLineBreakInCommand);
  EXPECT_TRUE(ftp.IsConnected());
  ftp.ChangeFolder("www");  // still in step with the server's replies
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Commands(), (Commands{"USER user", "PASS secret", "TYPE I", "SYST", "CWD www"}));
}

TEST_F(FtpScripted, UploadSendsThePortOfItsListenerAndTheFileBytesWithoutQuit) {
  std::string bytes = test::BinaryBytes(100000);
  std::string file = dir.File("page.html", bytes);
  server.Login().On("250 CWD ok").On("200 Type set").Store();
  server.Start();
  ftp.ConnectAndLogin();
  ftp.ChangeFolder("www/news");
  ftp.SetTransferType(ftASCII);
  ftp.SetTransferType(ftASCII);  // no change: no command
  ftp.StoreFile(file, "index.html", false);
  ftp.CloseConnection();
  server.Join();
  Commands cmds = server.Commands();
  int port = server.DataPortConnected();
  ASSERT_GT(port, 1023);
  EXPECT_EQ(cmds, (Commands{"USER user", "PASS secret", "TYPE I", "SYST", "CWD www/news", "TYPE A",
                            "PORT 127,0,0,1," + std::to_string(port / 256) + "," +
                                std::to_string(port % 256),
                            "STOR index.html"}));
  ASSERT_EQ(server.Data().size(), 1u);
  EXPECT_TRUE(server.Data()[0] == bytes);
}

TEST_F(FtpScripted, EventsOfOneUploadArriveInOrder) {
  std::string file = dir.File("a.html", std::string(70000, 'x'));
  server.Login().Store();
  server.Start();
  ftp.Host = "localhost";
  log.Attach(ftp);
  ftp.ConnectAndLogin();
  ftp.StoreFile(file, "a.html", false);
  ftp.CloseConnection();
  EXPECT_EQ(log.events, (Commands{"status Resolving hostname localhost.", "status Connecting to 127.0.0.1.",
                                  "status Connected.", "connected", "status Connection established",
                                  "status Starting FTP transfer", "begin 70000", "work", "end",
                                  "status Transfer complete", "status Disconnecting.", "disconnected",
                                  "status Disconnected."}));
  EXPECT_EQ(log.lastWork, 70000);
  // Closing again is harmless and silent.
  log.events.clear();
  ftp.CloseConnection();
  EXPECT_TRUE(log.events.empty());
}

TEST_F(FtpScripted, ZeroByteFileOpensAndClosesTheDataConnection) {
  std::string file = dir.File("empty.html", "");
  server.Login().Store();
  server.Start();
  ftp.ConnectAndLogin();
  log.Attach(ftp);
  ftp.StoreFile(file, "empty.html", false);
  EXPECT_EQ(log.events, (Commands{"status Starting FTP transfer", "begin 0", "end", "status Transfer complete"}));
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Error(), "");
  ASSERT_EQ(server.Data().size(), 1u);
  EXPECT_EQ(server.Data()[0], "");
}

TEST_F(FtpScripted, StoreRefusedStillReportsTransferCompleteAndStaysConnected) {
  std::string file = dir.File("a.html", "abc");
  server.Login().On("200 PORT ok").On("550 Permission denied");
  server.Start();
  ftp.ConnectAndLogin();
  log.Attach(ftp);
  try {
    ftp.StoreFile(file, "a.html", false);
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 550);
    EXPECT_STREQ(e.what(), "Permission denied\r\n");
  }
  EXPECT_EQ(log.events, (Commands{"status Starting FTP transfer", "status Transfer complete"}));
  EXPECT_TRUE(ftp.IsConnected());
  EXPECT_EQ(ftp.TransferConnection(), nullptr);
}

TEST_F(FtpScripted, Reply426ThenFinalReplyIsAnAbortNotAnError) {
  std::string file = dir.File("a.html", "abc");
  server.Login()
      .On("200 PORT ok")
      .On("150 go", Action::kReceive)
      .Then("426 Connection closed; transfer aborted")
      .Then("226 Closing data connection");
  server.Start();
  ftp.ConnectAndLogin();
  log.Attach(ftp);
  ftp.StoreFile(file, "a.html", false);
  EXPECT_EQ(log.events.back(), "status Transfer aborted");
  EXPECT_TRUE(ftp.IsConnected());
}

TEST_F(FtpScripted, AppendAndUniqueStoreCommands) {
  std::string file = dir.File("a.html", "abc");
  server.Login().Store().Store();
  server.Start();
  ftp.ConnectAndLogin();
  ftp.StoreFile(file, "log.txt", true);
  ftp.StoreFile(file, "", false);
  ftp.CloseConnection();
  server.Join();
  Commands cmds = server.Commands();
  ASSERT_EQ(cmds.size(), 8u);
  EXPECT_EQ(cmds[5], "APPE log.txt");
  EXPECT_EQ(cmds[7], "STOU ");
  EXPECT_EQ(server.Data(), (Commands{"abc", "abc"}));
}

TEST_F(FtpScripted, StoreWithoutAConnectionFails) {
  std::string file = dir.File("a.html", "abc");
  EXPECT_THROW(ftp.StoreFile(file, "a.html", false), EIdNotConnected);
  EXPECT_THROW(ftp.ChangeFolder("www"), EIdNotConnected);
}

TEST_F(FtpScripted, MissingLocalFileSendsNothing) {
  server.Login();
  server.Start();
  ftp.ConnectAndLogin();
  std::string missing = dir.Path() + "/missing.html";
  try {
    ftp.StoreFile(missing, "missing.html", false);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + missing + "\". ", 0), 0u);
  }
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Commands().size(), 4u);
}

TEST_F(FtpScripted, PartialLineThenCloseIsAGracefulClose) {
  server.ThenRaw("220 Half a li", Action::kClose);
  server.Start();
  try {
    ftp.ConnectAndLogin();
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(FtpScripted, ServerThatNeverAnswersHitsTheSilenceBound) {
  server.Login().OnRaw("", Action::kSilent);
  server.Start();
  ftp.ConnectAndLogin();
  ftp.ReplyTimeout = 150;
  try {
    ftp.ChangeFolder("x");
    FAIL() << "no exception";
  } catch (const EIdReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read Timeout");
  }
}

TEST(FtpSilenceBound, AReplyThatKeepsComingNeverTimesOut) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  TIdFTP ftp;
  ftp.AdoptSocket(sv[1]);
  ftp.ReplyTimeout = 250;
  // The GUI pump runs after every 5 ms without input and lets one more byte
  // through: the 100-byte reply takes at least half a second in all, twice the
  // bound, but is never silent for long.
  const std::string reply = "220 " + std::string(94, 'x') + "\r\n";
  size_t sent = 0;
  TIdAntiFreeze af;
  af.IdleTimeOut = 5;
  af.OnProcess = [&](bool) {
    if (sent < reply.size()) {
      ASSERT_EQ(::write(sv[0], &reply[sent++], 1), 1);
    }
  };
  EXPECT_EQ(ftp.ReadReply({220}), 220);
  EXPECT_EQ(sent, reply.size());
  // Once the bytes stop, the bound fires.
  EXPECT_THROW(ftp.ReadReply(), EIdReadTimeout);
  ::close(sv[0]);
}

TEST_F(FtpScripted, DataConnectionThatNeverComesHitsTheSilenceBound) {
  std::string file = dir.File("a.html", "abc");
  server.Login().On("200 PORT ok").On("150 go", Action::kReceiveNoData);
  server.Start();
  ftp.ConnectAndLogin();
  ftp.ReplyTimeout = 150;
  try {
    ftp.StoreFile(file, "a.html", false);
    FAIL() << "no exception";
  } catch (const EIdAcceptTimeout& e) {
    EXPECT_NE(std::string(e.what()).find("never opened the data connection"), std::string::npos);
  }
  EXPECT_EQ(ftp.TransferConnection(), nullptr);
}

TEST_F(FtpScripted, ReplyInsteadOfTheDataConnectionEndsTheWaitAtOnce) {
  std::string file = dir.File("a.html", "abc");
  server.Login().On("200 PORT ok").On("150 go", Action::kReceiveNoData).Then("425 Can't open data connection");
  server.Start();
  ftp.ConnectAndLogin();
  ftp.ReplyTimeout = 60000;  // a fault would make the test wait this long
  try {
    ftp.StoreFile(file, "a.html", false);
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyCode(), 425);
    EXPECT_STREQ(e.what(), "Can't open data connection\r\n");
  }
  EXPECT_TRUE(ftp.IsConnected());
}

TEST_F(FtpScripted, PeerVanishingMidTransferIsASocketError) {
  std::string file = dir.File("big.bin", test::BinaryBytes(32 << 20));
  server.Login().On("200 PORT ok").On("150 go", Action::kResetData);
  server.Start();
  ftp.ConnectAndLogin();
  log.Attach(ftp);
  try {
    ftp.StoreFile(file, "big.bin", false);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
    EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
  EXPECT_EQ(log.events.back(), "status Transfer complete");
  EXPECT_EQ(log.events[log.events.size() - 2], "end");
}

TEST_F(FtpScripted, PassiveModeConnectsToTheReplyAddress) {
  std::string file = dir.File("a.html", "passive bytes");
  server.Login()
      .On("227 Entering Passive Mode (127,0,0,1,{port}).", Action::kPassive)
      .On("150 go", Action::kReceive)
      .Then("226 done");
  server.Start();
  ftp.Passive = true;
  ftp.ConnectAndLogin();
  ftp.StoreFile(file, "a.html", false);
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Commands()[4], "PASV");
  EXPECT_EQ(server.Commands()[5], "STOR a.html");
  EXPECT_EQ(server.Data(), Commands{"passive bytes"});
}

TEST_F(FtpScripted, PassiveReplyWithUnspecifiedAddressFallsBackToThePeer) {
  std::string file = dir.File("a.html", "x");
  server.Login()
      .On("227 Entering Passive Mode (0,0,0,0,{port})", Action::kPassive)
      .On("150 go", Action::kReceive)
      .Then("226 done");
  server.Start();
  ftp.Passive = true;
  ftp.ConnectAndLogin();
  ftp.StoreFile(file, "a.html", false);
  ftp.CloseConnection();
  server.Join();
  EXPECT_EQ(server.Data(), Commands{"x"});
}

TEST(PassiveReply, AddressParsingAndChoice) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParsePassiveReply("Entering Passive Mode (192,168,1,5,4,1)", host, port));
  EXPECT_EQ(host, "192.168.1.5");
  EXPECT_EQ(port, 1025);
  EXPECT_TRUE(ParsePassiveReply("=10,0,0,1,200,7", host, port));
  EXPECT_EQ(host, "10.0.0.1");
  EXPECT_EQ(port, 200 * 256 + 7);
  EXPECT_FALSE(ParsePassiveReply("Entering Passive Mode (1,2,3,4,5)", host, port));
  EXPECT_FALSE(ParsePassiveReply("(256,1,1,1,1,1)", host, port));
  EXPECT_FALSE(ParsePassiveReply("", host, port));

  EXPECT_EQ(ChoosePassiveHost("0.0.0.0", "203.0.113.9"), "203.0.113.9");
  EXPECT_EQ(ChoosePassiveHost("192.168.0.10", "203.0.113.9"), "203.0.113.9");
  EXPECT_EQ(ChoosePassiveHost("203.0.113.20", "203.0.113.9"), "203.0.113.20");
  EXPECT_EQ(ChoosePassiveHost("192.168.0.10", "192.168.0.2"), "192.168.0.10");
}

}  // namespace
}  // namespace brindle
