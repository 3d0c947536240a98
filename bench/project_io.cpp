// Load and save of a large project against reading and writing the same
// number of bytes. Prints "name seconds" lines, the best of REPEAT runs.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "project/FileIO.h"
#include "project/Project.h"

namespace {

template <class F>
double Best(int repeat, F&& f) {
  double best = 1e9;
  for (int i = 0; i < repeat; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: project_io PROJECT SCRATCH_DIR [REPEAT]\n");
    return 2;
  }
  std::string path = argv[1], scratch = argv[2];
  int repeat = argc > 3 ? std::atoi(argv[3]) : 3;
  std::string bytes;
  double read = Best(repeat, [&] { bytes = brindle::ReadFileBytes(path); });
  double load = Best(repeat, [&] {
    brindle::Project p;
    if (p.Open(path).Outcome != brindle::LoadOutcome::Loaded) std::abort();
  });
  // The floor of a save: a new file, every byte written, synced.
  std::string rawOut = scratch + "/raw.bin";
  double write = Best(repeat, [&] {
    ::unlink(rawOut.c_str());
    int fd = ::open(rawOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) std::abort();
  });
  brindle::Project p;
  p.Open(path);
  std::string saveOut = scratch + "/saved.brp";
  double save = Best(repeat, [&] {
    ::unlink(saveOut.c_str());
    p.Save(saveOut);
  });
  std::printf("bytes %zu\nread %.4f\nload %.4f\nwrite %.4f\nsave %.4f\n", bytes.size(), read, load, write, save);
  return 0;
}
