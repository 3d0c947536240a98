// The I/O floor of a site build: writes COUNT files of SIZE bytes into DIR
// from a plain loop (open, write, close), as fast as the system allows.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: write_floor DIR COUNT SIZE\n");
    return 2;
  }
  std::string dir = argv[1];
  long count = std::atol(argv[2]);
  size_t size = static_cast<size_t>(std::atol(argv[3]));
  std::string buf(size, 'x');
  char name[64];
  for (long i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "/f%05ld.html", i);
    std::string path = dir + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, buf.data(), size) != static_cast<ssize_t>(size) || ::close(fd) != 0) {
      std::perror(path.c_str());
      return 1;
    }
  }
  return 0;
}
