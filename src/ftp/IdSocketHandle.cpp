#include "ftp/IdSocketHandle.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ftp/IdStack.h"

namespace brindle {

TIdSocketHandle::~TIdSocketHandle() { CloseSocket(); }

void TIdSocketHandle::Reset() {
  CloseSocket();
  IP.clear();
  Port = 0;
  PeerIP.clear();
  PeerPort = 0;
}

void TIdSocketHandle::AllocateSocket() {
  CloseSocket();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    TIdStack::CaptureErrno();
    throw EIdInvalidSocket();
  }
  handle_ = fd;
}

void TIdSocketHandle::Adopt(int fd) {
  CloseSocket();
  handle_ = fd;
  UpdateBindingLocal();
  UpdateBindingPeer();
}

void TIdSocketHandle::Bind() {
  sockaddr_in addr;
  TIdStack::MakeAddress(IP.empty() ? "0.0.0.0" : IP, 0, addr);
  auto tryBind = [&](int port) {
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return ::bind(handle_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  };
  if (Port == 0 && ClientPortMin != 0 && ClientPortMax != 0) {
    if (ClientPortMax < ClientPortMin) throw EIdInvalidPortRange(ClientPortMin, ClientPortMax);
    bool bound = false;
    for (int p = ClientPortMax; p >= ClientPortMin && !bound; --p) {
      if (!TIdStack::CheckSocketResult(tryBind(p), {Id_WSAEADDRINUSE})) bound = true;
    }
    if (!bound) throw EIdCanNotBindPortInRange(ClientPortMin, ClientPortMax);
  } else if (TIdStack::CheckSocketResult(tryBind(Port), {Id_WSAEADDRINUSE})) {
    throw EIdCouldNotBindSocket();
  }
  UpdateBindingLocal();
}

void TIdSocketHandle::Listen(int backlog) {
  TIdStack::CheckSocketResult(::listen(handle_, backlog));
}

void TIdSocketHandle::Connect(int timeout, bool timed) {
  sockaddr_in addr;
  TIdStack::MakeAddress(PeerIP, PeerPort, addr);
  try {
    TIdStack::Connect(handle_, addr, timeout, timed);
  } catch (const EIdConnectTimeout&) {
    CloseSocket();
    throw;
  }
  UpdateBindingLocal();
  UpdateBindingPeer();
}

bool TIdSocketHandle::Accept(int listener) {
  int fd;
  do {
    fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    TIdStack::CheckSocketResult(-1, {Id_WSAEINTR, Id_WSAENOTSOCK});
    return false;
  }
  Adopt(fd);
  return true;
}

long TIdSocketHandle::Send(const void* buf, size_t len) {
  return ::send(handle_, buf, len, MSG_NOSIGNAL);
}

long TIdSocketHandle::Recv(void* buf, size_t len) { return ::recv(handle_, buf, len, 0); }

void TIdSocketHandle::SetSendTimeout(int ms) {
  if (handle_ < 0) return;
  timeval tv{};
  if (ms > 0) {
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
  }
  TIdStack::CheckSocketResult(::setsockopt(handle_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv));
}

void TIdSocketHandle::CloseSocket() {
  if (handle_ < 0) return;
  int fd = handle_;
  handle_ = -1;
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
}

void TIdSocketHandle::UpdateBindingLocal() {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  TIdStack::CheckSocketResult(::getsockname(handle_, reinterpret_cast<sockaddr*>(&addr), &len));
  if (addr.sin_family != AF_INET) return;
  IP = TIdStack::AddressText(addr);
  Port = ntohs(addr.sin_port);
}

void TIdSocketHandle::UpdateBindingPeer() {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  TIdStack::CheckSocketResult(::getpeername(handle_, reinterpret_cast<sockaddr*>(&addr), &len));
  if (addr.sin_family != AF_INET) return;
  PeerIP = TIdStack::AddressText(addr);
  PeerPort = ntohs(addr.sin_port);
}

}  // namespace brindle
