// One socket and what is known about its two ends.
#pragma once

#include <cstddef>
#include <string>

namespace brindle {

// Owns at most one socket descriptor (-1 when none); closes it on
// destruction. Every failing call raises EIdSocketError unless stated.
class TIdSocketHandle {
 public:
  TIdSocketHandle() = default;
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  int Handle() const { return handle_; }
  bool HandleAllocated() const { return handle_ >= 0; }

  std::string IP;       // local address, dotted
  int Port = 0;         // local port
  std::string PeerIP;   // remote address, dotted
  int PeerPort = 0;     // remote port
  int ClientPortMin = 0;
  int ClientPortMax = 0;

  // Closes any socket and clears the addresses (not the port range).
  void Reset();
  // A new IPv4 stream socket; EIdInvalidSocket when the system refuses one.
  void AllocateSocket();
  // Takes ownership of an already connected socket (closing any previous one)
  // and reads both ends back when they are IPv4.
  void Adopt(int fd);

  // Binds to IP (empty: any) and Port (0: the system's choice); with Port 0
  // and a client port range, tries the range from its top down.
  // EIdCouldNotBindSocket when a fixed address and port are taken.
  void Bind();
  void Listen(int backlog);
  // Connects to PeerIP:PeerPort; see TIdStack::Connect. On a time-out the
  // socket is closed before EIdConnectTimeout is raised.
  void Connect(int timeout, bool timed);
  // Accepts one connection from `listener`. Answers false (nothing accepted)
  // for errors 10004 and 10038, raises for any other.
  bool Accept(int listener);

  // One send call (MSG_NOSIGNAL: a vanished peer is an error, never a
  // signal). Returns the platform result; errno is left for the caller.
  long Send(const void* buf, size_t len);
  // One receive call; result as recv.
  long Recv(void* buf, size_t len);

  // Sets how long a send may make no progress before it fails with error
  // 10060 (0: no limit).
  void SetSendTimeout(int ms);

  // Gives up ownership of the descriptor, which stays open; -1 when none.
  int Release() {
    int fd = handle_;
    handle_ = -1;
    return fd;
  }

  // Shuts the sending side down (so the peer sees the end of the data) and
  // closes the socket. Safe to call when nothing is open.
  void CloseSocket();

  void UpdateBindingLocal();
  void UpdateBindingPeer();

 private:
  int handle_ = -1;
};

}  // namespace brindle
