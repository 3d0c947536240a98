// The socket layer: POSIX IPv4 stream sockets standing in for Windows
// Sockets. Platform errors are mapped onto the Windows Sockets numbers and
// texts, so that every message reads "Socket Error # 10061" CR LF
// "Connection refused." whatever the platform.
//
// Stateless apart from the calling thread's last error, so it needs no
// start-up and may be used from any thread; the waits pump the GUI only on
// the main thread (see TIdAntiFreeze).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "ftp/IdException.h"

struct sockaddr_in;

namespace brindle {

// Time-outs are milliseconds; these two values are special.
constexpr int DefaultTimeout = -1;   // the object's own setting
constexpr int InfiniteTimeout = -2;  // no limit

// Windows Sockets numbers used by name in the transport.
enum : int {
  Id_WSAEINTR = 10004,
  Id_WSAEBADF = 10009,
  Id_WSAENOTSOCK = 10038,
  Id_WSAEADDRINUSE = 10048,
  Id_WSAECONNABORTED = 10053,
  Id_WSAECONNRESET = 10054,
  Id_WSAESHUTDOWN = 10058,
  Id_WSAETIMEDOUT = 10060,
  Id_WSAECONNREFUSED = 10061,
  Id_WSAHOST_NOT_FOUND = 11001,
};

class TIdStack {
 public:
  // The Windows Sockets number for an errno value; an errno without an
  // equivalent is returned unchanged (its message then has no text).
  static int TranslateErrno(int err);
  // The error table's text for a Windows Sockets number, "" when it has none.
  static std::string ErrorText(int code);
  // "Socket Error # <code>\r\n<text>".
  static std::string SocketErrorMessage(int code);

  // The calling thread's last socket error (a Windows Sockets number).
  static int LastError();
  // Records errno, translated, as the last error and returns it.
  static int CaptureErrno();

  // False when `result` is not -1. Otherwise records errno as the last error;
  // true when that error is in `ignored`, else raises EIdSocketError.
  static bool CheckSocketResult(long result, std::initializer_list<int> ignored = {});
  [[noreturn]] static void RaiseSocketError(int code);

  // True for four '.'-separated decimal numbers from 0 to 255.
  static bool IsDottedAddress(const std::string& text);
  // "LOCALHOST" in any case gives 127.0.0.1 without a lookup, a dotted
  // address is returned as given, anything else is looked up and the first
  // IPv4 address returned in dotted form. Raises EIdSocketError 11001 when
  // the name cannot be resolved.
  static std::string LookUpHost(const std::string& name);
  // Dotted text to a socket address; parts are read as decimal (never octal).
  static void MakeAddress(const std::string& dotted, int port, sockaddr_in& out);
  static std::string AddressText(const sockaddr_in& addr);

  // Waits until `fd` is readable (data, end of stream, an error, or for a
  // listening socket a pending connection). `timeout` in ms, 0 polls,
  // InfiniteTimeout waits without limit. On the main thread with a pump the
  // wait is cut into IdleTimeOut slices with a pump after each. Raises
  // EIdConnClosedGracefully when `fd` is not an open socket (< 0).
  // A `watchFd` other than -1 that becomes readable ends the wait too; it
  // is then reported through `watchReady`.
  static bool WaitReadable(int fd, int timeout, int watchFd = -1, bool* watchReady = nullptr);

  // Connects blocking socket `fd` to `addr`, waiting in slices of at most
  // 125 ms (pumping between them) so that a GUI stays served, and returning
  // as soon as the connect completes. `timeout` in ms or InfiniteTimeout.
  // With `timed` a failure raises EIdConnectException with the socket error's
  // message and expiry raises EIdConnectTimeout; without it (a plain
  // connect) a failure raises EIdSocketError. The caller owns `fd` and closes
  // it after a failure; its blocking mode is restored on every path.
  static void Connect(int fd, const sockaddr_in& addr, int timeout, bool timed);
};

}  // namespace brindle
