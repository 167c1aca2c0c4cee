// The floor of any converter: read the input once and write as many bytes as
// the output will have, through one buffer. Usage: stream_floor IN OUT BYTES
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int in = ::open(argv[1], O_RDONLY);
  const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) return 1;
  std::vector<char> buffer(1 << 20);
  while (::read(in, buffer.data(), buffer.size()) > 0) {
  }
  long long left = std::atoll(argv[3]);
  while (left > 0) {
    const ssize_t n = ::write(out, buffer.data(), left < static_cast<long long>(buffer.size()) ? left : buffer.size());
    if (n <= 0) return 1;
    left -= n;
  }
  return ::close(out) == 0 ? 0 : 1;
}
