#include "ftp/IdTCPClient.h"

namespace brindle {

void TIdTCPClient::OpenConnection(int timeout) {
  if (IOHandler() && IOHandler()->Connected()) throw EIdAlreadyConnected();
  if (timeout == DefaultTimeout) timeout = ConnectTimeout;
  TIdIOHandlerSocket& io = CreateIOHandler();
  try {
    io.Open();
    ResetForOpen();
    io.ConnectClient(Host, Port, BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeout);
    ApplySocketOptions();
    RaiseStatus(hsConnected, Host);
    if (OnConnected) OnConnected(this);
  } catch (...) {
    DropSocket();
    throw;
  }
}

}  // namespace brindle
