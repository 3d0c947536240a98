// A loopback FTP server for tests that replays queued replies and records
// every command line and every byte of data it receives. It serves one
// control connection on 127.0.0.1 (port 0) from its own thread; every wait
// it makes is bounded, and Stop() (or the destructor) ends it.
//
// Header-only so that tests of other folders can use it too.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace brindle::test {

class ScriptedFtpServer {
 public:
  enum class Action {
    kNone,
    kReceive,        // after the reply: open the data connection, read to its end
    kReceiveNoData,  // after the reply: do not open a data connection
    kPassive,        // the reply's "{port}" becomes p1,p2 of a fresh data listener
    kResetData,      // after the reply: open the data connection, read a little,
                     // then reset it and close the control connection
    kClose,          // after the reply (raw bytes): close the control connection
    kSilent,         // send nothing at all, wait for the client to go
  };

  struct Step {
    bool waitCommand;
    std::string bytes;
    Action action;
  };

  ScriptedFtpServer() {
    listen_ = Listener(0);
    port_ = LocalPort(listen_);
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  }
  ~ScriptedFtpServer() {
    Stop();
    Close(listen_);
    Close(stopPipe_[0]);
    Close(stopPipe_[1]);
  }
  ScriptedFtpServer(const ScriptedFtpServer&) = delete;
  ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

  int Port() const { return port_; }

  // Sent as soon as the client connects (a line; CR LF is added).
  ScriptedFtpServer& Greet(const std::string& line) { return Add(false, line + "\r\n", Action::kNone); }
  // Sent in answer to the next command line.
  ScriptedFtpServer& On(const std::string& line, Action a = Action::kNone) {
    return Add(true, line + "\r\n", a);
  }
  // Raw bytes in answer to the next command (nothing added).
  ScriptedFtpServer& OnRaw(const std::string& bytes, Action a = Action::kNone) {
    return Add(true, bytes, a);
  }
  // Sent right after the previous step, without waiting for a command.
  ScriptedFtpServer& Then(const std::string& line) { return Add(false, line + "\r\n", Action::kNone); }
  ScriptedFtpServer& ThenRaw(const std::string& bytes, Action a = Action::kNone) {
    return Add(false, bytes, a);
  }
  // Greeting, USER 331, PASS 230, TYPE 200, SYST 215.
  ScriptedFtpServer& Login() {
    return Greet("220 Scripted server ready")
        .On("331 Password required")
        .On("230 Logged in")
        .On("200 Type set")
        .On("215 UNIX Type: L8");
  }
  // PORT 200, STOR 150 with the data read, then 226.
  ScriptedFtpServer& Store() {
    return On("200 PORT command successful").On("150 Opening data connection", Action::kReceive).Then("226 Transfer complete");
  }

  void Start() { thread_ = std::thread([this] { Run(); }); }
  // Ends the server (waking any wait) and waits for its thread.
  void Stop() {
    if (!thread_.joinable()) return;
    char c = 1;
    (void)!::write(stopPipe_[1], &c, 1);
    thread_.join();
  }
  // Waits for the server to finish its script and the client to go.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  std::vector<std::string> Commands() const {
    std::lock_guard<std::mutex> l(mu_);
    return commands_;
  }
  // The bytes of each data connection, in order.
  std::vector<std::string> Data() const {
    std::lock_guard<std::mutex> l(mu_);
    return data_;
  }
  // The port the server connected to for the last PORT command.
  int DataPortConnected() const {
    std::lock_guard<std::mutex> l(mu_);
    return dataPort_;
  }
  std::string Error() const {
    std::lock_guard<std::mutex> l(mu_);
    return error_;
  }

  static constexpr int kWaitMs = 10000;  // bound on every wait of the server

 private:
  ScriptedFtpServer& Add(bool wait, std::string bytes, Action a) {
    steps_.push_back({wait, std::move(bytes), a});
    return *this;
  }

  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  static int Listener(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)
      throw std::runtime_error("scripted server cannot listen");
    return fd;
  }

  static int LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }

  // Waits for `fd` to be readable; false on stop or after kWaitMs.
  bool WaitFor(int fd) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    int r;
    do {
      r = ::poll(p, 2, kWaitMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && p[1].revents == 0 && p[0].revents != 0;
  }

  int AcceptFrom(int listener) {
    if (!WaitFor(listener)) return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  }

  // The next line (without CR LF) from the control connection; false when
  // it closed, stopped or timed out.
  bool ReadCommand(std::string& line) {
    for (;;) {
      size_t lf = pending_.find('\n');
      if (lf != std::string::npos) {
        line = pending_.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pending_.erase(0, lf + 1);
        return true;
      }
      if (!WaitFor(control_)) return false;
      char buf[4096];
      ssize_t n = ::recv(control_, buf, sizeof buf, 0);
      if (n <= 0) return false;
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

  void SendAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return;
      off += static_cast<size_t>(n);
    }
  }

  int OpenData() {
    if (pasv_ >= 0) {
      int fd = AcceptFrom(pasv_);
      Close(pasv_);
      return fd;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(portArg_));
    a.sin_addr.s_addr = inet_addr(portHost_.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      Close(fd);
      return -1;
    }
    std::lock_guard<std::mutex> l(mu_);
    dataPort_ = portArg_;
    return fd;
  }

  void ReceiveData(bool reset) {
    int fd = OpenData();
    if (fd < 0) {
      std::lock_guard<std::mutex> l(mu_);
      error_ = "no data connection";
      return;
    }
    std::string got;
    char buf[65536];
    while (WaitFor(fd)) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
      if (reset) break;
    }
    if (reset) {
      linger lg{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
      ::setsockopt(control_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
      Close(control_);
    }
    Close(fd);
    std::lock_guard<std::mutex> l(mu_);
    data_.push_back(std::move(got));
  }

  void Note(const std::string& cmd) {
    if (cmd.rfind("PORT ", 0) == 0) {
      int h[4] = {0, 0, 0, 0}, p1 = 0, p2 = 0;
      if (std::sscanf(cmd.c_str() + 5, "%d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &p1, &p2) == 6) {
        portHost_ = std::to_string(h[0]) + "." + std::to_string(h[1]) + "." + std::to_string(h[2]) +
                    "." + std::to_string(h[3]);
        portArg_ = p1 * 256 + p2;
      }
    }
    std::lock_guard<std::mutex> l(mu_);
    commands_.push_back(cmd);
  }

  void Run() {
    control_ = AcceptFrom(listen_);
    if (control_ < 0) return;
    // Replies go out at once, as a real server's do, instead of waiting for
    // the client's delayed acknowledgement of the previous one.
    int one = 1;
    ::setsockopt(control_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string cmd;
    for (const Step& step : steps_) {
      if (step.waitCommand) {
        if (!ReadCommand(cmd)) break;
        Note(cmd);
      }
      std::string bytes = step.bytes;
      if (step.action == Action::kPassive) {
        pasv_ = Listener(0);
        int p = LocalPort(pasv_);
        size_t at = bytes.find("{port}");
        if (at != std::string::npos)
          bytes.replace(at, 6, std::to_string(p / 256) + "," + std::to_string(p % 256));
      }
      if (step.action == Action::kSilent) break;
      SendAll(control_, bytes);
      if (step.action == Action::kReceive) ReceiveData(false);
      if (step.action == Action::kResetData) {
        ReceiveData(true);
        break;
      }
      if (step.action == Action::kClose) {
        Close(control_);
        break;
      }
    }
    // Record whatever else the client sends until it goes.
    while (control_ >= 0 && ReadCommand(cmd)) Note(cmd);
    Close(control_);
    Close(pasv_);
  }

  std::vector<Step> steps_;
  int listen_ = -1;
  int port_ = 0;
  int stopPipe_[2] = {-1, -1};
  int control_ = -1;
  int pasv_ = -1;
  std::string pending_;
  std::string portHost_ = "127.0.0.1";
  int portArg_ = 0;
  std::thread thread_;

  mutable std::mutex mu_;
  std::vector<std::string> commands_;
  std::vector<std::string> data_;
  int dataPort_ = 0;
  std::string error_;
};

}  // namespace brindle::test
