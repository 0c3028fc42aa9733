// Bench-only: two plain read(2) passes over a file into a 256 KiB buffer,
// the least any two-pass tool must spend. Usage: read_limit INPUT
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  static char buffer[256 * 1024];
  unsigned long long total = 0;
  for (int pass = 0; pass < 2; ++pass) {
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) return 1;
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) total += n;
    close(fd);
  }
  std::printf("%llu\n", total);
  return 0;
}
