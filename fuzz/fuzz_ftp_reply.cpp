// Feeds arbitrary bytes to the FTP client as a server's replies: the reply
// parser, line reading and its length limits must neither crash nor grow
// memory beyond the input's size.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ftp/IdFTP.h"

namespace {

// Kept below the socket buffer so that one write never blocks.
constexpr size_t kMaxInput = 64 * 1024;

void WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  // The first byte picks the line rules; the rest is the server's output.
  const uint8_t mode = data[0];
  ++data;
  --size;

  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  int big = 1 << 20;
  ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  WriteAll(sv[0], data, size);
  ::close(sv[0]);

  brindle::TIdFTP ftp;
  ftp.ReplyTimeout = 1000;
  ftp.MaxLineAction = (mode & 1) ? brindle::maSplit : brindle::maException;
  ftp.MaxLineLength = (mode & 2) ? 16 : 16384;
  try {
    ftp.AdoptSocket(sv[1]);
    // Every reply consumes at least one line, so this ends at the input's end.
    for (;;) {
      ftp.ReadReply();
    }
  } catch (const brindle::EIdException&) {
  }

  std::string text(reinterpret_cast<const char*>(data), size);
  std::string host;
  int port = 0;
  brindle::ParsePassiveReply(text, host, port);
  return 0;
}
