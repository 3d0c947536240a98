// The far end of a test connection: a listener on 127.0.0.1 (port 0) and the
// socket it accepted, driven directly from the test's own thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace brindle::test {

class LoopbackPeer {
 public:
  explicit LoopbackPeer(int backlog = 4) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, backlog) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("loopback listener");
    port_ = ntohs(a.sin_port);
  }
  ~LoopbackPeer() {
    CloseAccepted();
    if (listen_ >= 0) ::close(listen_);
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int Port() const { return port_; }
  int ListenFd() const { return listen_; }

  // Accepts the client's connection (it is already queued once the client's
  // connect has returned).
  void Accept() {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) throw std::runtime_error("nothing to accept");
    fd_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  void Send(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error("peer send");
      off += static_cast<size_t>(n);
    }
  }
  // Reads until `count` bytes came or the connection ended (bounded).
  std::string Receive(size_t count) {
    std::string got;
    char buf[65536];
    while (got.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10000) != 1) break;
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  void CloseAccepted() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Closes with a reset instead of an orderly end.
  void Reset() {
    linger lg{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    CloseAccepted();
  }

 private:
  int listen_ = -1;
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace brindle::test
