// A TCP connection that connects out to Host:Port.
#pragma once

#include <string>

#include "ftp/IdTCPConnection.h"

namespace brindle {

class TIdTCPClient : public TIdTCPConnection {
 public:
  std::string Host;
  int Port = 0;
  std::string BoundIP;    // local address to bind; empty: any
  int BoundPort = 0;      // local port; 0: the system's choice
  int BoundPortMin = 0;   // with BoundPort 0 and both ends set, the ports
  int BoundPortMax = 0;   // tried from the top of the range down
  // Milliseconds an OpenConnection called with DefaultTimeout may take to
  // connect; DefaultTimeout keeps the usual rule (120 s with a GUI pump, the
  // system's own limit without).
  int ConnectTimeout = DefaultTimeout;
  TNotifyEvent OnConnected;

  // Resolves Host, connects (a timed connect for a `timeout` other than
  // DefaultTimeout and 0, or when a GUI pump is in use), raises "Connected."
  // and OnConnected. Raises EIdAlreadyConnected when open; any failure drops
  // the socket before the exception leaves.
  void OpenConnection(int timeout = DefaultTimeout);
};

}  // namespace brindle
