// The floor the programs' design allows: the same number of bytes written to
// a file in chunks of a given size, one write() call per chunk and nothing else.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: write_floor FILE BYTES CHUNK\n");
    return 2;
  }
  const long long total = std::atoll(argv[2]);
  const long long chunk = std::atoll(argv[3]);
  std::vector<char> buffer(static_cast<std::size_t>(chunk), 'x');
  const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 1;
  for (long long left = total; left > 0; left -= chunk) {
    const long long size = left < chunk ? left : chunk;
    if (::write(fd, buffer.data(), static_cast<std::size_t>(size)) != size) return 1;
  }
  return ::close(fd) == 0 ? 0 : 1;
}
