#include "engine/confine/untrusted_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/memory_budget.h"

namespace kestrel {
namespace {

// FreeImage's handle I/O over the input: copied from a read-only mapping of the
// file when there is one (the decoder's many small reads then cost no system
// call), otherwise read by position. No stdio, no lseek.
struct FdSource {
  int fd;
  std::uint64_t size;
  std::uint64_t position;
  const std::uint8_t* mapped;  // the whole file, or null
  std::uint64_t released = 0;  // pages of the mapping before this offset were given back
};

// The decoder reads the file once, front to back: mapped pages it has passed
// are dropped, so the mapping never holds the whole file besides the bitmap. A
// page read again after a seek back is simply read from the file once more.
constexpr std::uint64_t kReleaseStep = 4u << 20;

void ReleasePassedPages(FdSource& source) {
  static const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t end = source.position / page * page;
  if (end < source.released + kReleaseStep) return;
  ::madvise(const_cast<std::uint8_t*>(source.mapped) + source.released, end - source.released, MADV_DONTNEED);
  source.released = end;
}

unsigned DLL_CALLCONV SourceRead(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  auto* source = static_cast<FdSource*>(handle);
  if (size == 0 || count == 0) return 0;
  const std::uint64_t wanted = std::uint64_t{size} * count;
  auto* out = static_cast<unsigned char*>(buffer);
  if (source->mapped != nullptr) {
    const std::uint64_t left = source->position < source->size ? source->size - source->position : 0;
    const std::uint64_t whole = std::min(wanted, left) / size * size;
    if (whole > 0) std::memcpy(out, source->mapped + source->position, whole);
    source->position += whole;
    ReleasePassedPages(*source);
    return static_cast<unsigned>(whole / size);
  }
  std::uint64_t got = 0;
  while (got < wanted && source->position < source->size) {
    const std::uint64_t step = std::min<std::uint64_t>(wanted - got, 1ull << 30);
    const ssize_t n = ::pread(source->fd, out + got, step, static_cast<off_t>(source->position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::uint64_t>(n);
    source->position += static_cast<std::uint64_t>(n);
  }
  return static_cast<unsigned>(got / size);
}

unsigned DLL_CALLCONV SourceWrite(void*, unsigned, unsigned, fi_handle) { return 0; }

int DLL_CALLCONV SourceSeek(fi_handle handle, long offset, int origin) {
  auto* source = static_cast<FdSource*>(handle);
  std::int64_t base = 0;
  if (origin == SEEK_CUR) base = static_cast<std::int64_t>(source->position);
  else if (origin == SEEK_END) base = static_cast<std::int64_t>(source->size);
  else if (origin != SEEK_SET) return -1;
  const std::int64_t target = base + offset;
  if (target < 0) return -1;
  source->position = static_cast<std::uint64_t>(target);
  return 0;
}

long DLL_CALLCONV SourceTell(fi_handle handle) { return static_cast<long>(static_cast<FdSource*>(handle)->position); }

}  // namespace

bool ReadAt(int fd, std::uint64_t offset, void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = ::pread(fd, bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

UntrustedFile OpenUntrustedFile(const std::string& path) {
  UntrustedFile file;
  file.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!file.fd.Valid() || ::fstat(file.fd.Get(), &st) != 0) {
    const int error = errno;
    file.failure = "cannot open: " + std::generic_category().message(error);
  } else if (!S_ISREG(st.st_mode)) {
    file.failure = "not a regular file";
  } else {
    file.size = static_cast<std::uint64_t>(st.st_size);
  }
  if (!file.failure.empty()) file.fd.Reset();
  return file;
}

FileMapping::FileMapping(int fd, std::uint64_t size) {
  if (size == 0) return;
  void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (data == MAP_FAILED) return;
  // Start reading ahead now; the decoder reads nearly everything in order.
  ::madvise(data, size, MADV_WILLNEED);
  data_ = static_cast<const std::uint8_t*>(data);
  size_ = size;
}

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(other.size_) {}

FileMapping::~FileMapping() {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

FIBITMAP* DecodeFromFd(FREE_IMAGE_FORMAT format, int fd, std::uint64_t size, const std::uint8_t* mapped, int flags) {
  FreeImageIO io{SourceRead, SourceWrite, SourceSeek, SourceTell};
  FdSource source{fd, size, 0, mapped, 0};
  return FreeImage_LoadFromHandle(format, &io, static_cast<fi_handle>(&source), flags);
}

// Why the confined decoder gave no image, in words for the user.
std::string DescribeDecoderEnd(const SandboxResult& result, const SandboxLimits& limits) {
  switch (result.end) {
    case SandboxEnd::Exited:
      return result.exitCode == 1 ? kDecoderUnreadable
                                  : "the decoder failed (exit code " + std::to_string(result.exitCode) + ")";
    case SandboxEnd::Signalled:
      if (result.signal == SIGXCPU) return "the decoder took longer than " + std::to_string(limits.cpuSeconds) + " s";
      if (result.signal == SIGSYS) {
        return "the decoder was stopped for a forbidden system call (signal " + std::to_string(SIGSYS) + ")";
      }
      return "the decoder crashed (signal " + std::to_string(result.signal) + ")";
    case SandboxEnd::TimedOut:
      return "the decoder took longer than " + std::to_string((limits.wallMilliseconds + 999) / 1000) + " s";
    case SandboxEnd::Stalled:
      return "the decoder took longer than " + std::to_string((limits.idleMilliseconds + 999) / 1000) +
             " s without making progress";
    case SandboxEnd::OutOfMemory:
      return "the decoder was stopped after using " + MemorySizeText(limits.extraAddressSpace);
    case SandboxEnd::Refused: break;
    case SandboxEnd::NotStarted: return "the decoder could not be started";
  }
  return kDecoderInconsistent;
}


}  // namespace kestrel
