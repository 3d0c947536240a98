// Shared helpers of the FTP tests: a temporary folder and an event recorder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ftp/IdFTP.h"
#include "project/FileIO.h"

namespace brindle::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "brindle-ftp-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name, const std::string& bytes) const {
    std::string p = path_ + "/" + name;
    WriteFileBytes(p, bytes);
    return p;
  }

 private:
  std::string path_;
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
