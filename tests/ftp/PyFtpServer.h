// A real FTP server for tests: Debian's pyftpdlib run by /usr/bin/python3
// on 127.0.0.1 with a port the system chooses, serving a temporary home to
// one user with write permission. The server is killed by its process id
// when the object goes (and by the system if the test process dies).
//
// Header-only so that tests of other folders can use it too.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "project/FileIO.h"

namespace brindle::test {

class PyFtpServer {
 public:
  static constexpr const char* kUser = "brindle";
  static constexpr const char* kPassword = "s3cret";

  // Serves `home` (which must exist). Scratch files (the launcher script and
  // the server's log) go to `scratchDir`.
  PyFtpServer(const std::string& home, const std::string& scratchDir) {
    std::string script = scratchDir + "/pyftpd_launcher.py";
    WriteFileBytes(script, kScript);
    std::string log = scratchDir + "/pyftpd.log";
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      int in = ::open("/dev/null", O_RDONLY);
      int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err, 2) < 0) _exit(127);
      ::execl("/usr/bin/python3", "python3", script.c_str(), home.c_str(), kUser, kPassword,
              static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(out[1]);
    std::string line;
    char buf[64];
    // The launcher prints the port once it listens; give it 30 s.
    while (line.find('\n') == std::string::npos) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 30000) != 1) break;
      ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
      Kill();
      std::string why;
      try {
        why = ReadFileBytes(log);
      } catch (...) {
      }
      throw std::runtime_error("pyftpdlib did not start: " + why);
    }
  }
  ~PyFtpServer() { Kill(); }
  PyFtpServer(const PyFtpServer&) = delete;
  PyFtpServer& operator=(const PyFtpServer&) = delete;

  int Port() const { return port_; }

 private:
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  static constexpr const char* kScript = R"PY(
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

home, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, home, perm="elradfmwMT")

class Handler(FTPHandler):
    pass

Handler.authorizer = authorizer
Handler.auth_failed_timeout = 0.01
server = FTPServer(("127.0.0.1", 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
)PY";

  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace brindle::test
