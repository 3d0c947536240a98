// Shared helpers of the FTP tests: a temporary folder and an event recorder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ftp/IdFTP.h"
#include "TempDir.h"

namespace brindle::test {

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
