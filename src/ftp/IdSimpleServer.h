// A connection that listens and accepts exactly one incoming connection (the
// data connection of an active-mode transfer).
#pragma once

#include <string>

#include "ftp/IdTCPConnection.h"

namespace brindle {

class TIdSimpleServer : public TIdTCPConnection {
 public:
  TIdSimpleServer() = default;
  ~TIdSimpleServer() override;

  std::string BoundIP;  // empty: any address
  int BoundPort = 0;    // 0: the system's choice
  // Milliseconds of each readiness wait while accepting.
  int AcceptPollWait = 0;
  // Milliseconds AcceptOne waits in all before it gives up; InfiniteTimeout
  // waits until a connection comes or Abort is set.
  int AcceptTimeout = InfiniteTimeout;
  // Set (for example by a handler the pump runs) to stop a waiting AcceptOne.
  bool Abort = false;
  // A socket (not owned) whose input also ends the wait, setting Abort: for
  // an FTP data connection, the control connection, on which a reply during
  // the wait means the server has given up connecting. -1: none.
  int AbortWhenReadable = -1;

  // Allocates, binds (backlog 15) and listens; ListenIP()/ListenPort() then
  // tell where. On failure the I/O object is discarded and the error passes.
  void BeginListening();
  // Waits for one incoming connection and makes it this connection's socket;
  // the listening socket is closed in every case. Answers whether a
  // connection came (false after AcceptTimeout or Abort); an accept that then
  // fails with error 10004 or 10038 leaves the connection closed.
  bool AcceptOne();

  bool Listening() const { return listenFd_ >= 0; }
  const std::string& ListenIP() const { return listenIP_; }
  int ListenPort() const { return listenPort_; }

 private:
  void CloseListener();

  int listenFd_ = -1;
  std::string listenIP_;
  int listenPort_ = 0;
};

}  // namespace brindle
