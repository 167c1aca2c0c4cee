#include "platform/path_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace kestrel {
namespace {

std::optional<std::string> ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return text;
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::optional<std::vector<std::string>> ReadPathList(const std::string& file, bool nulSeparated) {
  std::optional<std::string> text;
  if (file == "-") {
    text = ReadAll(STDIN_FILENO);
  } else {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return std::nullopt;
    text = ReadAll(fd.Get());
  }
  if (!text) return std::nullopt;
  const char separator = nulSeparated ? '\0' : '\n';
  std::vector<std::string> paths;
  std::size_t start = 0;
  while (start < text->size()) {
    auto end = text->find(separator, start);
    if (end == std::string::npos) end = text->size();
    std::string path = text->substr(start, end - start);
    if (!nulSeparated && path.ends_with('\r')) path.pop_back();
    if (!path.empty()) paths.push_back(std::move(path));
    start = end + 1;
  }
  return paths;
}

}  // namespace kestrel
