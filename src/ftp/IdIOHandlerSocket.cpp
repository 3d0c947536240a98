#include "ftp/IdIOHandlerSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "ftp/IdAntiFreeze.h"
#include "ftp/IdStack.h"

namespace brindle {

void TIdIOHandlerSocket::Open() {
  if (binding_) binding_->Reset();
  else binding_ = std::make_unique<TIdSocketHandle>();
}

void TIdIOHandlerSocket::Close() {
  if (binding_) binding_->CloseSocket();
}

void TIdIOHandlerSocket::ConnectClient(const std::string& host, int port,
                                       const std::string& boundIP, int boundPort,
                                       int portMin, int portMax, int timeout) {
  TIdSocketHandle& b = *binding_;
  b.AllocateSocket();
  b.IP = boundIP;
  b.Port = boundPort;
  b.ClientPortMin = portMin;
  b.ClientPortMax = portMax;
  // Binding to "any address, any port" is what connect does by itself; only
  // a real choice of address or port needs the call.
  if (!boundIP.empty() || boundPort != 0 || (portMin != 0 && portMax != 0)) b.Bind();
  if (!UseNagle) {
    int one = 1;
    TIdStack::CheckSocketResult(::setsockopt(b.Handle(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one));
  }
  if (!TIdStack::IsDottedAddress(host)) RaiseStatus(hsResolving, host);
  std::string address = TIdStack::LookUpHost(host);
  b.PeerIP = address;
  b.PeerPort = port;
  RaiseStatus(hsConnecting, address);
  if (timeout != DefaultTimeout && timeout != 0) {
    b.Connect(timeout, true);
  } else if (TIdAntiFreeze::PumpInUse()) {
    b.Connect(120000, true);
  } else {
    b.Connect(InfiniteTimeout, false);
  }
}

}  // namespace brindle
