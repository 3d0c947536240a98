#include "ftp/IdStack.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "ftp/IdAntiFreeze.h"

namespace brindle {

namespace {

thread_local int tLastError = 0;

struct ErrnoMap {
  int err;
  int code;
};

constexpr ErrnoMap kErrnoMap[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},
    {EPERM, 10013},        {EFAULT, 10014},          {EINVAL, 10022},
    {EMFILE, 10024},       {ENFILE, 10024},          {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},       {EINPROGRESS, 10036},     {EALREADY, 10037},
    {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},     {ENETRESET, 10052},
    {ECONNABORTED, 10053}, {ECONNRESET, 10054},
    // A send on a connection the peer has torn down: to the user this is the
    // server resetting the connection.
    {EPIPE, 10054},
    {ENOBUFS, 10055},      {ENOMEM, 10055},          {EISCONN, 10056},
    {ENOTCONN, 10057},     {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},    {ELOOP, 10062},
    {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
};

struct CodeText {
  int code;
  const char* text;
};

constexpr CodeText kErrorTable[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// One poll of `fd` for `events` (and of `watchFd` for input, when it is not
// -1), at most `ms` (-1: no limit), retried after signals. Answers whether
// `fd` reported anything; `watchReady` tells whether `watchFd` did.
bool PollOnce(int fd, short events, int ms, int watchFd = -1, bool* watchReady = nullptr) {
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
  for (;;) {
    pollfd p[2] = {{fd, events, 0}, {watchFd, POLLIN, 0}};
    int r = ::poll(p, watchFd >= 0 ? 2 : 1, ms);
    if (r >= 0) {
      if (watchReady) *watchReady = watchFd >= 0 && p[1].revents != 0;
      return p[0].revents != 0;
    }
    if (errno != EINTR) TIdStack::RaiseSocketError(TIdStack::CaptureErrno());
    if (ms > 0) ms = MillisLeft(deadline);
  }
}

// Reads a decimal number in 0..255 from the whole text (leading zeros
// allowed, never octal).
bool ParseByte(const std::string& s, int& out) {
  if (s.empty()) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > 255) return false;
  }
  out = v;
  return true;
}

// Splits at the first three dots; the fourth part keeps the rest.
bool SplitDotted(const std::string& text, int parts[4]) {
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t dot = text.find('.', start);
    if (dot == std::string::npos) return false;
    if (!ParseByte(text.substr(start, dot - start), parts[i])) return false;
    start = dot + 1;
  }
  return ParseByte(text.substr(start), parts[3]);
}

void SetNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) TIdStack::RaiseSocketError(TIdStack::CaptureErrno());
  int want = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (want != flags && ::fcntl(fd, F_SETFL, want) < 0)
    TIdStack::RaiseSocketError(TIdStack::CaptureErrno());
}

}  // namespace

int TIdStack::TranslateErrno(int err) {
  for (const auto& m : kErrnoMap)
    if (m.err == err) return m.code;
  return err;
}

std::string TIdStack::ErrorText(int code) {
  for (const auto& e : kErrorTable)
    if (e.code == code) return e.text;
  return {};
}

std::string TIdStack::SocketErrorMessage(int code) {
  return "Socket Error # " + std::to_string(code) + "\r\n" + ErrorText(code);
}

int TIdStack::LastError() { return tLastError; }

int TIdStack::CaptureErrno() {
  tLastError = TranslateErrno(errno);
  return tLastError;
}

bool TIdStack::CheckSocketResult(long result, std::initializer_list<int> ignored) {
  if (result != -1) return false;
  int code = CaptureErrno();
  if (std::find(ignored.begin(), ignored.end(), code) != ignored.end()) return true;
  RaiseSocketError(code);
}

void TIdStack::RaiseSocketError(int code) {
  throw EIdSocketError(code, SocketErrorMessage(code));
}

bool TIdStack::IsDottedAddress(const std::string& text) {
  int parts[4];
  return SplitDotted(text, parts);
}

std::string TIdStack::LookUpHost(const std::string& name) {
  std::string upper = name;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (upper == "LOCALHOST") return "127.0.0.1";
  if (IsDottedAddress(name)) return name;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) {
    if (res) ::freeaddrinfo(res);
    int code = Id_WSAHOST_NOT_FOUND;
    if (rc == EAI_SYSTEM && errno != 0) code = TranslateErrno(errno);
    else if (rc == EAI_MEMORY) code = 10055;
    tLastError = code;
    RaiseSocketError(code);
  }
  sockaddr_in sin;
  std::memcpy(&sin, res->ai_addr, sizeof sin);
  ::freeaddrinfo(res);
  return AddressText(sin);
}

void TIdStack::MakeAddress(const std::string& dotted, int port, sockaddr_in& out) {
  int parts[4] = {0, 0, 0, 0};
  if (!SplitDotted(dotted, parts)) {
    tLastError = 10022;
    RaiseSocketError(10022);
  }
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<uint16_t>(port));
  uint32_t a = (static_cast<uint32_t>(parts[0]) << 24) | (static_cast<uint32_t>(parts[1]) << 16) |
               (static_cast<uint32_t>(parts[2]) << 8) | static_cast<uint32_t>(parts[3]);
  out.sin_addr.s_addr = htonl(a);
}

std::string TIdStack::AddressText(const sockaddr_in& addr) {
  uint32_t a = ntohl(addr.sin_addr.s_addr);
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

bool TIdStack::WaitReadable(int fd, int timeout, int watchFd, bool* watchReady) {
  if (fd < 0) throw EIdConnClosedGracefully();
  bool watched = false;
  if (watchReady) *watchReady = false;
  if (!TIdAntiFreeze::PumpInUse()) {
    bool ready = PollOnce(fd, POLLIN, timeout == InfiniteTimeout ? -1 : std::max(timeout, 0), watchFd,
                          &watched);
    if (watchReady) *watchReady = watched;
    TIdAntiFreeze::Pump(!ready && !watched);
    return ready;
  }
  // On the GUI thread: slices of at most IdleTimeOut, each followed by a pump.
  const int slice = std::max(1, TIdAntiFreeze::CurrentIdleTimeOut());
  const bool infinite = timeout == InfiniteTimeout;
  auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : std::max(timeout, 0));
  for (;;) {
    int wait = infinite ? slice : std::min(slice, MillisLeft(deadline));
    bool ready = PollOnce(fd, POLLIN, wait, watchFd, &watched);
    TIdAntiFreeze::Pump(!ready && !watched);
    if (ready || watched) {
      if (watchReady) *watchReady = watched;
      return ready;
    }
    if (!infinite && MillisLeft(deadline) == 0) {
      // The pump may have run past the limit while the bytes came; the time
      // spent serving the GUI is not the peer's silence, so look once more.
      ready = PollOnce(fd, POLLIN, 0, watchFd, &watched);
      if (watchReady) *watchReady = watched;
      return ready;
    }
  }
}

void TIdStack::Connect(int fd, const sockaddr_in& addr, int timeout, bool timed) {
  auto fail = [timed](int code) {
    if (timed) throw EIdConnectException(SocketErrorMessage(code));
    RaiseSocketError(code);
  };
  SetNonBlocking(fd, true);
  struct Restore {
    int fd;
    ~Restore() {
      int flags = ::fcntl(fd, F_GETFL);
      if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
  } restore{fd};

  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (rc == 0) return;
  if (errno != EINPROGRESS && errno != EINTR) fail(CaptureErrno());

  // The connect runs on; poll for its end in slices of at most 125 ms so
  // that the GUI is pumped between them and the caller learns the result as
  // soon as there is one.
  int slice = 125;
  if (TIdAntiFreeze::PumpInUse()) slice = std::min(slice, std::max(1, TIdAntiFreeze::CurrentIdleTimeOut()));
  const bool infinite = timeout == InfiniteTimeout;
  auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : std::max(timeout, 0));
  for (;;) {
    int wait = infinite ? slice : std::min(slice, MillisLeft(deadline));
    bool done = PollOnce(fd, POLLOUT, wait);
    if (done) break;
    TIdAntiFreeze::Pump(true);
    if (!infinite && MillisLeft(deadline) == 0) {
      // A last look: the connect may have finished during the pump.
      if (PollOnce(fd, POLLOUT, 0)) break;
      throw EIdConnectTimeout();
    }
  }
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) fail(CaptureErrno());
  if (err != 0) {
    errno = err;
    fail(CaptureErrno());
  }
}

}  // namespace brindle
