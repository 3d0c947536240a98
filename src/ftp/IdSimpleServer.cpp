#include "ftp/IdSimpleServer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "ftp/IdAntiFreeze.h"

namespace brindle {

TIdSimpleServer::~TIdSimpleServer() { CloseListener(); }

void TIdSimpleServer::CloseListener() {
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
}

void TIdSimpleServer::BeginListening() {
  if (listenFd_ >= 0) return;
  try {
    // The listening socket lives in its own record; the accepted socket
    // becomes the connection's.
    TIdSocketHandle listener;
    listener.AllocateSocket();
    listener.IP = BoundIP;
    listener.Port = BoundPort;
    listener.Bind();
    listener.Listen(15);
    listenIP_ = listener.IP;
    listenPort_ = listener.Port;
    if (!IOHandler()) CreateIOHandler();
    IOHandler()->Open();
    ResetForOpen();
    listenFd_ = listener.Release();
  } catch (...) {
    CloseListener();
    DiscardIOHandler();
    throw;
  }
}

bool TIdSimpleServer::AcceptOne() {
  if (listenFd_ < 0) BeginListening();
  using Clock = std::chrono::steady_clock;
  const bool infinite = AcceptTimeout == InfiniteTimeout || AcceptTimeout < 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : AcceptTimeout);
  // Waits are slices of at most one pump period; each returns as soon as the
  // server connects, so the slice adds no delay.
  const int slice = AcceptPollWait > 0 ? AcceptPollWait : std::max(1, TIdAntiFreeze::CurrentIdleTimeOut());
  bool ready = false;
  try {
    // At least one look, even with no time to wait.
    do {
      int wait = slice;
      if (!infinite) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        wait = static_cast<int>(std::clamp<long long>(left, 0, wait));
      }
      bool watched = false;
      ready = TIdStack::WaitReadable(listenFd_, wait, AbortWhenReadable, &watched);
      if (watched && !ready) Abort = true;
    } while (!ready && !Abort && (infinite || Clock::now() < deadline));
    if (ready && Socket()->Accept(listenFd_)) ApplySocketOptions();
    CloseListener();
    return ready;
  } catch (...) {
    CloseListener();
    throw;
  }
}

}  // namespace brindle
