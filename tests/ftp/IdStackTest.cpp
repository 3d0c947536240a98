// The socket layer: error numbers and texts, addresses, connect outcomes and
// the GUI pump's slicing of waits.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "ftp/IdAntiFreeze.h"
#include "ftp/IdSimpleServer.h"
#include "ftp/IdStack.h"
#include "ftp/IdTCPClient.h"
#include "ftp/LoopbackPeer.h"

namespace brindle {
namespace {

TEST(SocketErrors, PlatformErrorsReadAsWindowsSocketsNumbersAndTexts) {
  struct Case {
    int err;
    int code;
    const char* text;
  } cases[] = {
      {ECONNREFUSED, 10061, "Connection refused."},
      {ECONNRESET, 10054, "Connection reset by peer."},
      {EPIPE, 10054, "Connection reset by peer."},
      {ETIMEDOUT, 10060, "Connection timed out."},
      {EHOSTUNREACH, 10065, "No route to host."},
      {ENETUNREACH, 10051, "Network is unreachable."},
      {EADDRINUSE, 10048, "Address already in use."},
      {ECONNABORTED, 10053, "Software caused connection abort."},
      {EWOULDBLOCK, 10035, "Operation would block. "},
      {ENOTEMPTY, 10066, "Directory not empty"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TIdStack::TranslateErrno(c.err), c.code) << c.err;
    EXPECT_EQ(TIdStack::SocketErrorMessage(c.code), std::string("Socket Error # ") +
                                                        std::to_string(c.code) + "\r\n" + c.text);
  }
  EXPECT_EQ(TIdStack::SocketErrorMessage(11001), "Socket Error # 11001\r\nHost not found.");
  // A number without a text keeps the number and the line break only.
  EXPECT_EQ(TIdStack::SocketErrorMessage(10099), "Socket Error # 10099\r\n");
}

TEST(SocketErrors, CheckSocketResultRaisesOrIgnores) {
  EXPECT_FALSE(TIdStack::CheckSocketResult(0));
  EXPECT_FALSE(TIdStack::CheckSocketResult(17));
  errno = ECONNRESET;
  EXPECT_TRUE(TIdStack::CheckSocketResult(-1, {10054}));
  EXPECT_EQ(TIdStack::LastError(), 10054);
  errno = ECONNREFUSED;
  try {
    TIdStack::CheckSocketResult(-1, {10054});
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
  }
}

TEST(Addresses, DottedAddressesAndLookUp) {
  EXPECT_TRUE(TIdStack::IsDottedAddress("127.0.0.1"));
  EXPECT_TRUE(TIdStack::IsDottedAddress("255.255.255.255"));
  EXPECT_FALSE(TIdStack::IsDottedAddress("10.0.0.256"));
  EXPECT_FALSE(TIdStack::IsDottedAddress("1.2.3"));
  EXPECT_FALSE(TIdStack::IsDottedAddress("1.2.3.4.5"));
  EXPECT_FALSE(TIdStack::IsDottedAddress("1..2.3"));
  EXPECT_FALSE(TIdStack::IsDottedAddress("a.b.c.d"));
  EXPECT_FALSE(TIdStack::IsDottedAddress(""));

  EXPECT_EQ(TIdStack::LookUpHost("LocalHost"), "127.0.0.1");
  EXPECT_EQ(TIdStack::LookUpHost("LOCALHOST"), "127.0.0.1");
  EXPECT_EQ(TIdStack::LookUpHost("10.1.2.3"), "10.1.2.3");
  try {
    TIdStack::LookUpHost("no-such-host.invalid");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11001);
    EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
  }

  // Parts are decimal even with a leading zero (never octal).
  sockaddr_in a;
  TIdStack::MakeAddress("010.0.0.1", 21, a);
  EXPECT_EQ(TIdStack::AddressText(a), "10.0.0.1");
  // However many leading zeros: still a number up to 255, still decimal.
  EXPECT_TRUE(TIdStack::IsDottedAddress("0010.0.0.0001"));
  EXPECT_EQ(TIdStack::LookUpHost("0010.0.0.0001"), "0010.0.0.0001");
  TIdStack::MakeAddress("0010.0.0.0001", 21, a);
  EXPECT_EQ(TIdStack::AddressText(a), "10.0.0.1");
  EXPECT_FALSE(TIdStack::IsDottedAddress("1.2.3.00256"));
  EXPECT_FALSE(TIdStack::IsDottedAddress("1.2.3.99999999999999999999"));
}

// A port on 127.0.0.1 where nothing listens: bound but not listening, so no
// other process can take it while the test runs.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~ClosedPort() { ::close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_;
  int port_;
};

TEST(Connect, RefusedConnectRaisesTheSocketErrorOfItsKind) {
  ClosedPort closed;
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = closed.Port();
  try {
    client.OpenConnection(5000);  // timed connect
    FAIL() << "no exception";
  } catch (const EIdConnectException& e) {
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_FALSE(client.IsConnected());
  try {
    client.OpenConnection();  // plain connect: no pump, no time-out
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
  }
  // Closing a connection that never opened raises no event.
  bool anyEvent = false;
  client.OnStatus = [&](TIdComponent*, TIdStatus, const std::string&) { anyEvent = true; };
  client.OnDisconnected = [&](TIdComponent*) { anyEvent = true; };
  client.CloseConnection();
  EXPECT_FALSE(anyEvent);
}

TEST(Connect, ConnectThatNeverCompletesTimesOut) {
  // A listener whose accept queue is full drops further handshakes, so a
  // connect to it hangs until the caller gives up.
  test::LoopbackPeer full(0);
  TIdTCPClient fillers[2];
  for (TIdTCPClient& f : fillers) {
    f.Host = "127.0.0.1";
    f.Port = full.Port();
    try {
      f.OpenConnection(200);
    } catch (const EIdConnectTimeout&) {
    }
  }
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = full.Port();
  try {
    client.OpenConnection(300);
    FAIL() << "no exception";
  } catch (const EIdConnectTimeout& e) {
    EXPECT_STREQ(e.what(), "Connect timed out.");
  }
  EXPECT_FALSE(client.IsConnected());
  // The client's own limit stands in for a default time-out.
  client.ConnectTimeout = 100;
  EXPECT_THROW(client.OpenConnection(), EIdConnectTimeout);
}

TEST(Pump, WaitsAreSlicedAndPumpedOnlyOnTheMainThread) {
  test::LoopbackPeer peer;
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.OpenConnection();
  peer.Accept();

  TIdAntiFreeze af;
  af.IdleTimeOut = 5;
  int pumps = 0;
  af.OnProcess = [&](bool all) {
    EXPECT_TRUE(all);
    // The user interface gets served while the read waits; the third pump
    // brings the data the wait is for.
    if (++pumps == 3) peer.Send("hello\r\n");
  };
  EXPECT_TRUE(TIdAntiFreeze::PumpInUse());
  EXPECT_EQ(client.ReadLine(), "hello");
  EXPECT_EQ(pumps, 3);

  // Not from another thread.
  bool otherThreadPumps = true;
  std::thread([&] { otherThreadPumps = TIdAntiFreeze::PumpInUse(); }).join();
  EXPECT_FALSE(otherThreadPumps);

  af.Active = false;
  EXPECT_FALSE(TIdAntiFreeze::PumpInUse());
}

TEST(Pump, TimedWaitGivesUpAfterItsTime) {
  test::LoopbackPeer peer;
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.OpenConnection();
  TIdAntiFreeze af;
  af.IdleTimeOut = 10;
  int pumps = 0;
  af.OnProcess = [&](bool) { ++pumps; };
  EXPECT_FALSE(TIdStack::WaitReadable(client.Socket()->Handle(), 50));
  EXPECT_GE(pumps, 1);
  EXPECT_THROW(TIdStack::WaitReadable(-1, 0), EIdConnClosedGracefully);
}

TEST(Pump, WhatArrivesWhileThePumpRunsPastTheLimitIsNotATimeOut) {
  // A GUI handler that keeps the pump busy beyond the wait's limit (a modal
  // dialog, say) while the peer answers: the time it took is not the peer's
  // silence, so the answer counts.
  auto start = std::chrono::steady_clock::now();
  std::function<void()> arrive;
  TIdAntiFreeze af;
  af.IdleTimeOut = 250;
  af.OnProcess = [&](bool) {
    if (arrive) arrive();
    arrive = nullptr;
    std::this_thread::sleep_until(start + std::chrono::milliseconds(100));
  };

  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  arrive = [&] { ASSERT_EQ(::write(sv[0], "x", 1), 1); };
  EXPECT_TRUE(TIdStack::WaitReadable(sv[1], 20));
  ::close(sv[0]);
  ::close(sv[1]);

  // The same for the data connection an active transfer waits for.
  TIdSimpleServer server;
  server.BoundIP = "127.0.0.1";
  server.AcceptTimeout = 20;
  server.BeginListening();
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a;
  TIdStack::MakeAddress("127.0.0.1", server.ListenPort(), a);
  start = std::chrono::steady_clock::now();
  arrive = [&] { ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0); };
  EXPECT_TRUE(server.AcceptOne());
  EXPECT_TRUE(server.IsConnected());
  ::close(client);
}

}  // namespace
}  // namespace brindle
