// Shared helpers of the FTP tests: a temporary folder and an event recorder.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <string>
#include <vector>

#include "ftp/IdFTP.h"
#include "TempDir.h"

namespace brindle::test {

// A loopback port that refuses connections: bound, never listening, and
// held until the object goes, so no one else can take it meanwhile.
class RefusingPort {
 public:
  RefusingPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("cannot bind a loopback port");
    port_ = ntohs(a.sin_port);
  }
  ~RefusingPort() { ::close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Records the client's events as text, consecutive OnWork events as one
// "work" entry, so that their order can be compared as a whole.
struct EventLog {
  std::vector<std::string> events;
  int64_t lastWork = -1;

  void Attach(TIdFTP& ftp) {
    ftp.OnStatus = [this](TIdComponent*, TIdStatus, const std::string& text) {
      events.push_back("status " + text);
    };
    ftp.OnConnected = [this](TIdComponent*) { events.push_back("connected"); };
    ftp.OnDisconnected = [this](TIdComponent*) { events.push_back("disconnected"); };
    ftp.OnWorkBegin = [this](TIdComponent*, TWorkMode, int64_t max) {
      events.push_back("begin " + std::to_string(max));
    };
    ftp.OnWork = [this](TIdComponent*, TWorkMode, int64_t count) {
      if (events.empty() || events.back() != "work") events.push_back("work");
      lastWork = count;
    };
    ftp.OnWorkEnd = [this](TIdComponent*, TWorkMode) { events.push_back("end"); };
  }
};

inline std::string BinaryBytes(size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  unsigned x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

}  // namespace brindle::test
