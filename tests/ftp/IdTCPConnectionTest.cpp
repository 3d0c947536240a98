// The TCP connection: line reading limits, the input queue, sending, and
// the order of the disconnect events, against a loopback peer.
#include <gtest/gtest.h>

#include "ftp/IdSimpleServer.h"
#include "ftp/IdTCPClient.h"
#include "ftp/LoopbackPeer.h"

namespace brindle {
namespace {

using Events = std::vector<std::string>;

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    client.Host = "127.0.0.1";
    client.Port = peer.Port();
    // A fault that makes a read wait for more would otherwise hang the test.
    client.ReadTimeout = 5000;
    client.OnStatus = [this](TIdComponent*, TIdStatus, const std::string& t) { events.push_back(t); };
    client.OnDisconnected = [this](TIdComponent*) { events.push_back("OnDisconnected"); };
    client.OpenConnection();
    peer.Accept();
    events.clear();
  }

  test::LoopbackPeer peer;
  Events events;
  TIdTCPClient client;
};

TEST_F(Connection, LinesUpToTheMaximumLengthAreRead) {
  peer.Send(std::string(16384, 'a') + "\n" + std::string(16385, 'b') + "\n");
  EXPECT_EQ(client.ReadLine(), std::string(16384, 'a'));
  EXPECT_THROW(client.ReadLine(), EIdReadLnMaxLineLengthExceeded);
}

TEST_F(Connection, UnterminatedRunLongerThanTheMaximumFailsWithoutWaiting) {
  peer.Send(std::string(16385, 'x'));
  try {
    client.ReadLine();
    FAIL() << "no exception";
  } catch (const EIdReadLnMaxLineLengthExceeded& e) {
    EXPECT_STREQ(e.what(), "Max line length exceeded.");
  }
}

TEST_F(Connection, SplitModeReturnsLongLinesInPieces) {
  client.MaxLineAction = maSplit;
  peer.Send(std::string(16385, 'b') + "\nnext\n");
  EXPECT_EQ(client.ReadLine(), std::string(16384, 'b'));
  EXPECT_TRUE(client.LineWasSplit());
  EXPECT_EQ(client.ReadLine(), "b");
  EXPECT_FALSE(client.LineWasSplit());
  EXPECT_EQ(client.ReadLine(), "next");
}

TEST_F(Connection, OnlyOneCarriageReturnIsDropped) {
  peer.Send("abc\r\r\nplain\nlast\r\n");
  EXPECT_EQ(client.ReadLine(), "abc\r");
  EXPECT_EQ(client.ReadLine(), "plain");
  EXPECT_EQ(client.ReadLine("\r\n"), "last");
}

TEST_F(Connection, NonEmptyLineSkipsBlankLinesAndTrims) {
  peer.Send("\r\n \t\r\n\x01\n  230 ok  \r\n");
  EXPECT_EQ(client.ReadNonEmptyLine(100), "230 ok");
  peer.Send("\n\n");
  EXPECT_EQ(client.ReadNonEmptyLine(2), "");
}

TEST_F(Connection, ExplicitTimeoutAnswersEmptyAndMarksTheLine) {
  peer.Send("no end yet");
  EXPECT_EQ(client.ReadLine("", 20), "");
  EXPECT_TRUE(client.LineTimedOut());
  peer.Send(" - now\n");
  EXPECT_EQ(client.ReadLine(), "no end yet - now");
  client.ReadTimeout = 20;
  EXPECT_THROW(client.ReadLine(), EIdReadTimeout);
}

TEST_F(Connection, PartialLineThenCloseIsAGracefulCloseAndDisconnects) {
  peer.Send("220 half");
  peer.CloseAccepted();
  EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
  // The peer's close is noticed with the status first, then the event.
  EXPECT_EQ(events, (Events{"Disconnected.", "OnDisconnected"}));
  EXPECT_FALSE(client.IsConnected());
  events.clear();
  client.CloseConnection();
  EXPECT_TRUE(events.empty());
}

TEST_F(Connection, CloseConnectionRaisesTheEventBeforeTheFinalStatus) {
  EXPECT_TRUE(client.IsConnected());
  client.CloseConnection();
  EXPECT_EQ(events, (Events{"Disconnecting.", "OnDisconnected", "Disconnected."}));
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(peer.Receive(1), "");  // the peer sees the end
  EXPECT_THROW(client.WriteLine("x"), EIdNotConnected);
}

TEST_F(Connection, OpeningAnOpenConnectionFails) {
  try {
    client.OpenConnection();
    FAIL() << "no exception";
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_STREQ(e.what(), "Already connected.");
  }
}

TEST_F(Connection, WriteLineIsTheTextAndCrLf) {
  client.WriteLine("USER anonymous");
  client.WriteLine("");
  EXPECT_EQ(peer.Receive(18), "USER anonymous\r\n\r\n");
}

TEST_F(Connection, WritingToAResetPeerIsASocketErrorNotASignal) {
  peer.Reset();
  std::string chunk(4096, 'x');
  try {
    for (int i = 0; i < 1000; ++i) client.Write(chunk);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(Connection, SendStreamReportsWorkFromBeginToEnd) {
  std::string bytes(100000, 'z');
  TIdMemoryStream stream(bytes);
  Events work;
  int64_t last = 0;
  client.OnWorkBegin = [&](TIdComponent*, TWorkMode m, int64_t max) {
    EXPECT_EQ(m, wmWrite);
    work.push_back("begin " + std::to_string(max));
  };
  client.OnWork = [&](TIdComponent*, TWorkMode, int64_t count) {
    EXPECT_GT(count, last);
    last = count;
  };
  client.OnWorkEnd = [&](TIdComponent*, TWorkMode) { work.push_back("end"); };
  client.SendStream(stream, true);
  EXPECT_EQ(work, (Events{"begin 100000", "end"}));
  EXPECT_EQ(last, 100000);
  EXPECT_EQ(peer.Receive(bytes.size()), bytes);

  // Nested work reaches the handlers once.
  work.clear();
  client.RaiseWorkBegin(wmWrite, 5);
  client.RaiseWorkBegin(wmWrite, 7);
  client.RaiseWorkEnd(wmWrite);
  client.RaiseWorkEnd(wmWrite);
  EXPECT_EQ(work, (Events{"begin 5", "end"}));
}

TEST(ConnectionSetup, WritingWithoutAConnectionFails) {
  TIdTCPClient client;
  EXPECT_FALSE(client.IsConnected());
  try {
    client.WriteLine("x");
    FAIL() << "no exception";
  } catch (const EIdNotConnected& e) {
    EXPECT_STREQ(e.what(), "Not Connected");
  }
}

TEST(ConnectionSetup, LocalBindingRules) {
  test::LoopbackPeer peer;
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.BoundPortMin = 10;
  client.BoundPortMax = 5;
  try {
    client.OpenConnection();
    FAIL() << "no exception";
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_STREQ(e.what(), "Invalid Port Range (10 - 5)");
  }
  client.BoundPortMin = client.BoundPortMax = 0;
  client.BoundIP = "127.0.0.1";
  client.BoundPort = peer.Port();  // taken by the listener
  try {
    client.OpenConnection();
    FAIL() << "no exception";
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  client.BoundPort = 0;
  client.OpenConnection();
  EXPECT_EQ(client.Socket()->IP, "127.0.0.1");
  EXPECT_EQ(client.Socket()->PeerPort, peer.Port());
}

TEST(InputQueue, CompactsOnlyAfter32768ConsumedBytes) {
  TIdManagedBuffer q;
  std::string bytes(40000, 'q');
  q.Append(bytes.data(), bytes.size());
  q.Remove(32767);
  EXPECT_EQ(q.Offset(), 32767u);
  EXPECT_EQ(q.Size(), 40000u - 32767u);
  q.Remove(1);
  EXPECT_EQ(q.Offset(), 0u);
  EXPECT_EQ(q.Size(), 40000u - 32768u);
  try {
    q.Extract(q.Size() + 1);
    FAIL() << "no exception";
  } catch (const EIdNotEnoughDataInBuffer& e) {
    EXPECT_STREQ(e.what(), "Not enough data in buffer.");
  }
  q.Extract(q.Size());
  EXPECT_EQ(q.Size(), 0u);
  EXPECT_EQ(q.Offset(), 0u);
}

TEST(SimpleServer, AcceptsOneConnectionOrGivesUpAfterItsTime) {
  TIdSimpleServer server;
  server.BoundIP = "127.0.0.1";
  server.BeginListening();
  ASSERT_GT(server.ListenPort(), 0);
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = server.ListenPort();
  client.OpenConnection();
  EXPECT_TRUE(server.AcceptOne());
  EXPECT_TRUE(server.IsConnected());
  EXPECT_FALSE(server.Listening());
  server.WriteLine("data");
  EXPECT_EQ(client.ReadLine(), "data");

  TIdSimpleServer lonely;
  lonely.BoundIP = "127.0.0.1";
  lonely.AcceptTimeout = 30;
  EXPECT_FALSE(lonely.AcceptOne());
  EXPECT_FALSE(lonely.IsConnected());
  EXPECT_FALSE(lonely.Listening());
}

}  // namespace
}  // namespace brindle
