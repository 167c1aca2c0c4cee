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
#include <string>
#include <utility>

#include "platform/remove_on_signal.h"

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

bool namedTemporaryFiles = false;
// Where Commit hands files over while commits are put off; null otherwise.
std::vector<AtomicFile>* deferredCommits = nullptr;

std::string RandomSuffix() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(8, 'x');
  for (char& c : suffix) c = kChars[engine() % (sizeof(kChars) - 1)];
  return suffix;
}

// A hidden temporary name next to `name`. The name is shortened as far as
// needed for the whole to stay within the longest name the system allows, so
// that every legal target name has one.
std::string TemporaryName(const std::string& name) {
  static constexpr std::size_t kAdded = 1 + 1 + 8 + 5;  // "." name "." suffix ".part"
  std::string temp(".");
  temp.append(name, 0, NAME_MAX - kAdded).append(".").append(RandomSuffix()).append(".part");
  return temp;
}

// The system's own split of a path: folder up to the last "/", and the name.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
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
  const auto [folderPath, name] = SplitPath(target);
  if (name.empty() || name.size() > NAME_MAX) {
    errno = name.empty() ? EISDIR : ENAMETOOLONG;
    return std::nullopt;
  }
  UniqueFd folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.Valid()) return std::nullopt;
  struct stat old {};
  const bool replacesFile =
      ::fstatat(folder.Get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);

  std::optional<AtomicFile> file;
  // An unnamed file gets its name through its /proc link, so both must be there.
  UniqueFd fd(!namedTemporaryFiles && ::access("/proc/self/fd", X_OK) == 0
                  ? ::openat(folder.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                  : (errno = EOPNOTSUPP, -1));
  if (fd.Valid()) {
    file.emplace(AtomicFile(std::move(folder), name, std::string(), std::move(fd)));
  } else {
    // File systems without unnamed files: a hidden name, guarded against signals.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return std::nullopt;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
      std::string temp = TemporaryName(name);
      auto guard = std::make_unique<RemoveOnSignal>(folder.Get(), temp);
      UniqueFd named(::openat(folder.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
      if (named.Valid()) {
        file.emplace(AtomicFile(std::move(folder), name, std::move(temp), std::move(named)));
        file->tempGuard_ = std::move(guard);
      } else if (errno != EEXIST) {
        return std::nullopt;
      }
    }
    if (!file) return std::nullopt;
  }
  // The replacement keeps the permissions of the file it replaces.
  if (replacesFile && ::fchmod(file->fd_.Get(), old.st_mode & 0777) != 0) {
    const int error = errno;
    file.reset();
    errno = error;
  }
  return file;
}

AtomicFile::AtomicFile(UniqueFd folder, std::string name, std::string temp, UniqueFd fd)
    : folder_(std::move(folder)), name_(std::move(name)), temp_(std::move(temp)), fd_(std::move(fd)) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      temp_(std::move(other.temp_)),
      tempGuard_(std::move(other.tempGuard_)),
      fd_(std::move(other.fd_)),
      buffer_(std::move(other.buffer_)),
      position_(other.position_),
      flushed_end_(other.flushed_end_),
      failed_(other.failed_),
      committed_(other.committed_),
      error_(other.error_) {
  other.committed_ = true;  // the moved-from object owns no file any more
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  fd_.Reset();  // an unnamed file goes with its last descriptor
  if (!temp_.empty()) ::unlinkat(folder_.Get(), temp_.c_str(), 0);
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

bool AtomicFile::Publish() {
  if (!temp_.empty()) {
    if (!fd_.Close() || ::renameat(folder_.Get(), temp_.c_str(), folder_.Get(), name_.c_str()) != 0) return false;
    temp_.clear();
    tempGuard_.reset();
    return true;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.Get());
  // A new name: the file is linked straight to it and never has another.
  if (::linkat(AT_FDCWD, self.c_str(), folder_.Get(), name_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno != EEXIST) return false;
  // A name in use: link under a hidden name, then rename that over the old file.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string temp = TemporaryName(name_);
    RemoveOnSignal guard(folder_.Get(), temp);
    if (::linkat(AT_FDCWD, self.c_str(), folder_.Get(), temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      if (::renameat(folder_.Get(), temp.c_str(), folder_.Get(), name_.c_str()) == 0) return true;
      const int error = errno;
      ::unlinkat(folder_.Get(), temp.c_str(), 0);
      errno = error;
      return false;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool AtomicFile::Commit() {
  if (deferredCommits == nullptr) return CommitNow();
  if (committed_ || !Flush()) return false;
  // The disk starts on the data now, so that the commit later finds it there.
  ::sync_file_range(fd_.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  deferredCommits->push_back(std::move(*this));
  return true;
}

// The data reaches the disk before the file takes the target's name, and the
// folder after: a power loss leaves the old file or the complete new one.
bool AtomicFile::CommitNow(bool flushFolder) {
  if (committed_ || !Flush()) return false;
  if (::fsync(fd_.Get()) != 0 || !Name()) return Fail();
  // The new file is in place whatever happens now; a folder that cannot be
  // flushed is still reported, as its new entry may not survive a power loss.
  if (flushFolder && ::fsync(folder_.Get()) != 0 && errno != EINVAL) return Fail();
  return true;
}

bool AtomicFile::Name() {
  if (!Publish()) return false;
  committed_ = true;
  // The data is on disk, so closing the unnamed file's descriptor has nothing left to report.
  fd_.Reset();
  return true;
}

std::vector<bool> AtomicFile::CommitTogether(const std::vector<AtomicFile*>& files, const GroupFlush& flush) {
  std::vector<bool> committed(files.size(), false);
  std::vector<int> fds;
  std::vector<std::size_t> ready;  // the files whose writes are all out
  for (std::size_t i = 0; i < files.size(); ++i) {
    AtomicFile& file = *files[i];
    if (file.committed_ || !file.Flush()) continue;
    fds.push_back(file.fd_.Get());
    ready.push_back(i);
  }
  if (ready.empty()) return committed;
  const bool flushed = flush(fds);
  for (const std::size_t i : ready) {
    AtomicFile& file = *files[i];
    // No name before the data it stands for is on disk.
    if (!flushed && ::fsync(file.fd_.Get()) != 0) {
      file.Fail();
      continue;
    }
    if (file.Name()) committed[i] = true;
    else file.Fail();
  }
  return committed;
}

bool FlushTogether(const std::vector<int>& fds) {
  if (fds.size() == 1) return ::fsync(fds.front()) == 0;
  std::vector<dev_t> flushed;
  for (const int fd : fds) {
    struct stat facts {};
    if (::fstat(fd, &facts) != 0) return false;
    if (std::find(flushed.begin(), flushed.end(), facts.st_dev) != flushed.end()) continue;
    if (::syncfs(fd) != 0) return false;
    flushed.push_back(facts.st_dev);
  }
  return true;
}

void DeferCommits(bool defer) {
  static std::vector<AtomicFile> handedOver;
  if (!defer) handedOver.clear();
  deferredCommits = defer ? &handedOver : nullptr;
}

std::vector<AtomicFile> TakeDeferredCommits() {
  if (deferredCommits == nullptr) return {};
  return std::exchange(*deferredCommits, {});
}

bool FlushFolder(const std::string& path) {
  const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.Valid() && (::fsync(folder.Get()) == 0 || errno == EINVAL);
}

void UseNamedTemporaryFiles(bool named) { namedTemporaryFiles = named; }

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
  auto file = AtomicFile::Create(path);
  return file && file->Write(data, size) && file->Commit();
}

}  // namespace kestrel
