#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/paths.h"

namespace kestrel {
namespace {

// Small writes gather in a buffer of at most this size, which grows only as far
// as they need: an encoder that writes a header and then the whole pixel array
// at once never has a large buffer mapped for it.
constexpr std::size_t kWriteBufferSize = 256 << 10;

}  // namespace

bool WriteAll(int fd, const void* buffer, std::size_t size) {
  const auto* data = static_cast<const unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

std::string RandomSuffix() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(8, 'x');
  for (char& c : suffix) c = kChars[engine() % (sizeof(kChars) - 1)];
  return suffix;
}

// Moves the finished file `from` to `to`, atomically. An existing regular file
// is swapped out and then removed rather than renamed over: renaming over a
// file makes ext4 write the new file's data out at once, which costs more than
// the whole conversion of a large image. Readers see the old or the new file,
// never neither.
bool ReplaceWith(const std::string& from, const std::string& to) {
  struct stat st {};
  const bool replacesFile = ::lstat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  if (replacesFile && ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
    if (::unlink(from.c_str()) == 0) return true;
    // What came back is not a plain file (it changed since the check): swap back and fail.
    ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE);
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::int64_t FileSizeQuery(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return kPathMissing;
  if (S_ISDIR(st.st_mode)) return kPathIsFolder;
  if (!S_ISREG(st.st_mode)) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

std::string CurrentDirectory() {
  std::string dir(PATH_MAX, '\0');
  if (::getcwd(dir.data(), dir.size()) == nullptr) return "./";
  dir.resize(std::strlen(dir.c_str()));
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string ProgramFilePath() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  path.resize(static_cast<std::size_t>(n));
  return path;
}

std::optional<std::vector<unsigned char>> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return std::nullopt;
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  for (;;) {
    // The file may grow after the size was seen: one byte past the cap is enough to refuse it.
    const std::size_t room = maxBytes + 1 - bytes.size();
    const ssize_t n = ::read(fd.Get(), chunk, std::min(sizeof chunk, room));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() > maxBytes) return std::nullopt;
  }
  return bytes;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0;
}

std::optional<AtomicFile> AtomicFile::Create(const std::string& target) {
  const std::string folder = FolderPart(target);
  const std::string name = FileNamePart(target);
  if (name.empty()) return std::nullopt;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string temp = folder + "." + name + "." + RandomSuffix() + ".part";
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (fd.Valid()) return AtomicFile(target, std::move(temp), std::move(fd));
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

AtomicFile::AtomicFile(std::string target, std::string temp, UniqueFd fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(std::move(fd)) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      fd_(std::move(other.fd_)),
      buffer_(std::move(other.buffer_)),
      position_(other.position_),
      flushed_end_(other.flushed_end_),
      failed_(other.failed_),
      committed_(other.committed_),
      error_(other.error_) {
  other.committed_ = true;  // the moved-from object owns no temporary file any more
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  fd_.Reset();
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool AtomicFile::Fail() {
  if (!failed_) error_ = errno;
  failed_ = true;
  return false;
}

bool AtomicFile::Flush() {
  if (failed_) return false;
  if (!buffer_.empty()) {
    if (!WriteAll(fd_.Get(), buffer_.data(), buffer_.size())) return Fail();
    flushed_end_ += static_cast<std::int64_t>(buffer_.size());
    buffer_.clear();
  }
  return true;
}

bool AtomicFile::Write(const void* data, std::size_t size) {
  if (failed_) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (buffer_.size() + size > kWriteBufferSize) {
    if (!Flush()) return false;
    if (size >= kWriteBufferSize) {
      if (!WriteAll(fd_.Get(), bytes, size)) return Fail();
      flushed_end_ += static_cast<std::int64_t>(size);
      position_ += static_cast<std::int64_t>(size);
      return true;
    }
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  position_ += static_cast<std::int64_t>(size);
  return true;
}

bool AtomicFile::Seek(std::int64_t offset, int whence) {
  if (!Flush()) return false;
  const off_t result = ::lseek(fd_.Get(), static_cast<off_t>(offset), whence);
  if (result < 0) return Fail();
  position_ = flushed_end_ = result;
  return true;
}

bool AtomicFile::Commit() {
  if (committed_ || !Flush()) return false;
  if (!fd_.Close() || !ReplaceWith(temp_, target_)) return Fail();
  committed_ = true;
  return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
  auto file = AtomicFile::Create(path);
  return file && file->Write(data, size) && file->Commit();
}

}  // namespace kestrel
