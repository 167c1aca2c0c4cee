#include "engine/sandboxed_load.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

#include "engine/layer_rebuild.h"
#include "engine/memory_need.h"
#include "engine/psd_contents.h"
#include "engine/psd_header.h"
#include "engine/psd_merged.h"
#include "engine/psd_palette.h"
#include "engine/psd_transfer.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/sanitizer.h"
#include "platform/sandbox.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kMiB = 1ull << 20;
// Child memory beyond the decoded image: FreeImage's buffers, the transfer copy.
constexpr std::uint64_t kBaseAddressSpace = 256 * kMiB;
// Decoding runs at several hundred MB/s; the CPU limit allows a tenth of that.
// The child is limited by the CPU it uses, so a busy machine or a stopped run
// does not fail a valid file; the wall-clock bound is there for a hang alone.
constexpr std::uint64_t kDecodedBytesPerCpuSecond = 32 * kMiB;
constexpr int kBaseCpuSeconds = 2;
constexpr int kWallPerCpuSecond = 4;
constexpr int kBaseWallSeconds = 20;
constexpr const char* kUnreadable = "the decoder could not read the image";
constexpr const char* kInconsistentImage = "the decoder sent back an image that does not match the header";

SandboxProbe g_probe = nullptr;

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

FIBITMAP* DecodeFromFd(int fd, std::uint64_t size, const std::uint8_t* mapped, int flags) {
  FreeImageIO io{SourceRead, SourceWrite, SourceSeek, SourceTell};
  FdSource source{fd, size, 0, mapped, 0};
  return FreeImage_LoadFromHandle(FIF_PSD, &io, static_cast<fi_handle>(&source), flags);
}

// The merged image of the file, by the file's own description where its mode
// and depth are ones the program reads itself (engine/psd_merged.h), else by
// FreeImage. The raw channel modes (PSD_CMYK, PSD_LAB) always go to FreeImage.
FIBITMAP* DecodeInput(int fd, std::uint64_t size, const std::uint8_t* mapped, int flags, const PsdHeader& header) {
  if (flags == PSD_DEFAULT && mapped != nullptr) {
    const std::span<const std::uint8_t> file(mapped, static_cast<std::size_t>(size));
    const PsdContents contents = DescribePsdContents(file, header);
    if (DecodesMergedImage(contents)) return DecodeMergedImage(file, contents).release();
  }
  return DecodeFromFd(fd, size, mapped, flags);
}

// A read-only private mapping of a whole file, unmapped with its owner.
class FileMapping {
 public:
  FileMapping() = default;
  FileMapping(int fd, std::uint64_t size) {
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) return;
    // Start reading ahead now; the decoder reads nearly everything in order.
    ::madvise(data, size, MADV_WILLNEED);
    data_ = static_cast<const std::uint8_t*>(data);
    size_ = size;
  }
  FileMapping(FileMapping&& other) noexcept : data_(std::exchange(other.data_, nullptr)), size_(other.size_) {}
  FileMapping& operator=(FileMapping&&) = delete;
  ~FileMapping() {
    if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  }
  const std::uint8_t* Data() const { return data_; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
};

struct OpenedInput {
  UniqueFd fd;
  std::uint64_t size = 0;
  PsdHeader header;
  std::string failure;
};

OpenedInput OpenAndCheck(const std::string& path) {
  OpenedInput input;
  // Non-blocking, so that a FIFO cannot stall the open; anything but a regular file is refused.
  input.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!input.fd.Valid() || ::fstat(input.fd.Get(), &st) != 0) {
    const int error = errno;
    input.failure = "cannot open: " + std::generic_category().message(error);
  } else if (!S_ISREG(st.st_mode)) {
    input.failure = "not a regular file";
  } else {
    input.size = static_cast<std::uint64_t>(st.st_size);
    const int fd = input.fd.Get();
    const PsdHeaderCheck check = CheckPsdHeader(
        input.size, [fd](std::uint64_t offset, void* out, std::size_t size) { return ReadAt(fd, offset, out, size); });
    if (check.ok) {
      input.header = check.header;
    } else {
      input.failure = check.problem;
    }
  }
  if (!input.failure.empty()) input.fd.Reset();
  return input;
}

// An indexed file's palette comes from its colour mode data, whatever FreeImage made of it.
void MendIndexedPalette(const OpenedInput& input, FIBITMAP* image) {
  if (input.header.colourMode != kPsdModeIndexed || input.header.colourDataLength != kPsdPaletteBytes) return;
  std::vector<std::uint8_t> colourData(kPsdPaletteBytes);
  if (!ReadAt(input.fd.Get(), input.header.colourDataOffset, colourData.data(), colourData.size())) return;
  if (const auto palette = PaletteFromColourData(colourData)) ApplyIndexedPalette(image, *palette);
}

SandboxLimits LimitsFor(const PsdHeader& header, std::uint64_t fileSize) {
  SandboxLimits limits;
  // A picture rebuilt from layers is composited in floats, beside a group's own canvas.
  std::uint64_t space = kBaseAddressSpace + 12 * header.decodedBytes + fileSize;
  // The sanitizer's allocator keeps freed memory in quarantine and maps shadow memory.
  if (kSanitizedBuild) space += 1024 * kMiB;
  const std::uint64_t machine = PhysicalMemoryBytes();
  if (machine > 0) space = std::min(space, std::max<std::uint64_t>(machine / 2, kBaseAddressSpace));
  limits.extraAddressSpace = space;
  limits.cpuSeconds = kBaseCpuSeconds + static_cast<int>(header.decodedBytes / kDecodedBytesPerCpuSecond);
  limits.wallMilliseconds = (kBaseWallSeconds + kWallPerCpuSecond * limits.cpuSeconds) * 1000;
  return limits;
}

// Why the confined decoder gave no image, in words for the user.
std::string Describe(const SandboxResult& result, const SandboxLimits& limits) {
  switch (result.end) {
    case SandboxEnd::Exited:
      return result.exitCode == 1 ? kUnreadable
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
  return kInconsistentImage;
}

ImageResult Failure(std::string why) {
  ImageResult load;
  load.failure = std::move(why);
  return load;
}

}  // namespace

void SetSandboxProbeForTesting(SandboxProbe probe) { g_probe = probe; }

ImageResult LoadPsdSandboxed(const std::string& path, int flags) {
  OpenedInput input = OpenAndCheck(path);
  if (!input.failure.empty()) return Failure(input.failure);
  // Before the decoder allocates anything: a picture the machine cannot hold is refused.
  if (std::string shortage = MemoryShortage(input.header); !shortage.empty()) return Failure(std::move(shortage));
  const int inputFd = input.fd.Get();
  const std::uint64_t size = input.size;
  // Mapped before the child starts, so the confined child needs no new mapping of a file.
  const FileMapping mapping(inputFd, size);
  const std::uint8_t* mapped = mapping.Data();
  const SandboxProbe probe = g_probe;
  const PsdHeader& header = input.header;
  // Rows may carry up to 3 bytes of padding beyond the decoded pixels.
  const std::uint64_t maxPixelBytes = header.decodedBytes + 4ull * header.height;
  const SandboxLimits limits = LimitsFor(header, size);
  ImageResult load;
  LayerRebuildNote note;
  const SandboxResult result = RunSandboxed(
      limits, SandboxDescriptors{{inputFd}, {}},
      [=](int output) -> int {
        if (probe != nullptr) return probe(inputFd);
        FreeImage_SetOutputMessage(nullptr);  // nothing may be printed from here
        // Left to the child's end rather than unloaded: after a decoder that
        // damaged its heap, the unload could crash a child that sent a good image.
        FIBITMAP* image = DecodeInput(inputFd, size, mapped, flags, header);
        LayerRebuildNote note;
        std::string why;
        if (mapped != nullptr) image = ChoosePicture(image, std::span(mapped, size), header, note, why);
        return image != nullptr && WriteAll(output, &note, sizeof note) && WriteDecodedImage(image, output) ? 0 : 1;
      },
      [&](SandboxOutput& output) {
        const RecordSource source = [&output](void* buffer, std::size_t bytes) { return output.Read(buffer, bytes); };
        if (!source(&note, sizeof note)) return false;
        load.image = ReceiveDecodedImage(source, header.width, header.height, maxPixelBytes);
        return static_cast<bool>(load.image);
      });
  if (!result.Succeeded()) return Failure(Describe(result, limits));
  if (!load.image) return Failure(kInconsistentImage);
  if (note.rebuilt != 0 || note.placeholderKept != 0) WriteErrorLine("kestrel: " + path + ": " + DescribeRebuild(note));
  MendIndexedPalette(input, load.image.get());
  return load;
}

ImageResult LoadPsdInProcess(const std::string& path, int flags) {
  OpenedInput input = OpenAndCheck(path);
  if (!input.failure.empty()) return Failure(input.failure);
  const FileMapping mapping(input.fd.Get(), input.size);
  ImageResult load;
  FIBITMAP* image = DecodeInput(input.fd.Get(), input.size, mapping.Data(), flags, input.header);
  LayerRebuildNote note;
  std::string why;
  if (mapping.Data() != nullptr) image = ChoosePicture(image, std::span(mapping.Data(), input.size), input.header, note, why);
  load.image = Adopt(image);
  if (!load.image) return Failure(kUnreadable);
  MendIndexedPalette(input, load.image.get());
  return load;
}

}  // namespace kestrel
