#include "platform/piped_streams.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace kestrel {
namespace {

constexpr std::size_t kCopyStep = 1u << 20;

std::string SystemMessage(int error) { return std::generic_category().message(error); }

// Reads up to size bytes, going on after interruptions; -1 on an error.
ssize_t ReadSome(int fd, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

PipedInput ReadStandardInput() {
  PipedInput input;
  input.fd = UniqueFd(::memfd_create("stdin", MFD_CLOEXEC));
  if (!input.fd.Valid()) {
    input.failure = "cannot hold standard input: " + SystemMessage(errno);
    return input;
  }
  std::vector<unsigned char> buffer(kCopyStep);
  for (;;) {
    const ssize_t n = ReadSome(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0) {
      input.failure = "cannot read standard input: " + SystemMessage(errno);
      break;
    }
    if (n == 0) break;
    if (!WriteAll(input.fd.Get(), buffer.data(), static_cast<std::size_t>(n))) {
      input.failure = "cannot hold standard input: " + SystemMessage(errno);
      break;
    }
    input.size += static_cast<std::uint64_t>(n);
  }
  if (input.failure.empty() && input.size == 0) input.failure = "standard input is empty";
  if (!input.failure.empty()) {
    input.fd.Reset();
    return input;
  }
  input.path = "/proc/self/fd/" + std::to_string(input.fd.Get());
  return input;
}

bool OutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

Outcome CopyFileToStandardOutput(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.Valid()) return Failed("cannot read " + path + ": " + SystemMessage(errno));
  std::vector<unsigned char> buffer(kCopyStep);
  for (;;) {
    const ssize_t n = ReadSome(file.Get(), buffer.data(), buffer.size());
    if (n < 0) return Failed("cannot read " + path + ": " + SystemMessage(errno));
    if (n == 0) return Succeeded();
    if (!WriteAll(STDOUT_FILENO, buffer.data(), static_cast<std::size_t>(n))) {
      const int error = errno;
      if (error == EPIPE) return Failed("standard output was closed before the whole picture was written");
      return Failed("cannot write standard output: " + SystemMessage(error));
    }
  }
}

PrivateFolder::PrivateFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kestrel-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
}

PrivateFolder::~PrivateFolder() {
  if (path_.empty()) return;
  if (DIR* folder = ::opendir(path_.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((path_ + name).c_str());
    }
    ::closedir(folder);
  }
  ::rmdir(path_.c_str());
}

}  // namespace kestrel
