#include "engine/decode/confined_psd.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/decode/memory_need.h"
#include "engine/decode/psd_decode.h"
#include "engine/psd/layer_records.h"
#include "engine/confine/bitmap_record.h"
#include "engine/confine/untrusted_file.h"
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
// Compositing lays each layer over the canvas at some hundred million pixels
// a second; the CPU limit allows a tenth of that for every layer the file declares.
constexpr std::uint64_t kCompositedPixelsPerCpuSecond = 16ull << 20;
// Canvases of the layer compositor that may be alive at once: the picture's,
// an isolated group's or a pass-through group's copy of what lies beneath,
// the output picture made from it, and one more nested group.
constexpr std::uint64_t kLayerCanvases = 4;
// A day: beyond it the wall-clock bound, four times the CPU limit in milliseconds, would not fit an int.
constexpr std::uint64_t kMaxCpuSeconds = 24 * 3600;
constexpr int kWallPerCpuSecond = 4;
constexpr int kBaseWallSeconds = 20;

SandboxProbe g_probe = nullptr;

struct OpenedInput {
  UniqueFd fd;
  std::uint64_t size = 0;
  PsdHeader header;
  std::string failure;
};

OpenedInput OpenAndCheck(const std::string& path) {
  OpenedInput input;
  UntrustedFile file = OpenUntrustedFile(path);
  if (!file.failure.empty()) {
    input.failure = file.failure;
    return input;
  }
  const int fd = file.fd.Get();
  const PsdHeaderCheck check =
      CheckPsdHeader(file.size, [fd](std::uint64_t offset, void* out, std::size_t size) { return ReadAt(fd, offset, out, size); });
  if (!check.ok) {
    input.failure = check.problem;
    return input;
  }
  input.fd = std::move(file.fd);
  input.size = file.size;
  input.header = check.header;
  return input;
}

SandboxLimits LimitsFor(const PsdHeader& header, std::uint64_t fileSize, std::uint32_t layers) {
  SandboxLimits limits;
  // Decoding may take a few copies of the picture. A picture rebuilt from
  // the layers comes after it, beside the merged image decoded first (kept
  // should the layers fail).
  std::uint64_t work = 4 * header.decodedBytes;
  if (header.hasLayerSection) work = std::max(work, header.decodedBytes + kLayerCanvases * LayerCanvasBytes(header));
  std::uint64_t space = kBaseAddressSpace + work + fileSize;
  // The sanitizer's allocator keeps freed memory in quarantine and maps shadow memory.
  if (kSanitizedBuild) space += 1024 * kMiB;
  const std::uint64_t machine = PhysicalMemoryBytes();
  if (machine > 0) space = std::min(space, std::max<std::uint64_t>(machine / 2, kBaseAddressSpace));
  limits.extraAddressSpace = space;
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  const std::uint64_t cpu = kBaseCpuSeconds + header.decodedBytes / kDecodedBytesPerCpuSecond +
                            std::uint64_t{layers} * pixels / kCompositedPixelsPerCpuSecond;
  limits.cpuSeconds = static_cast<int>(std::min<std::uint64_t>(cpu, kMaxCpuSeconds));
  limits.wallMilliseconds = (kBaseWallSeconds + kWallPerCpuSecond * limits.cpuSeconds) * 1000;
  return limits;
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
  const ByteSource read = [inputFd](std::uint64_t offset, void* out, std::size_t bytes) {
    return ReadAt(inputFd, offset, out, bytes);
  };
  const SandboxLimits limits = LimitsFor(header, size, CountPsdLayers(size, read, header));
  ImageResult load;
  LayerRebuildNote note;
  const SandboxResult result = RunSandboxed(
      limits, SandboxDescriptors{{inputFd}, {}},
      [=](int output) -> int {
        if (probe != nullptr) return probe(inputFd);
        FreeImage_SetOutputMessage(nullptr);  // nothing may be printed from here
        const DecodedPsd decoded = DecodePsd(inputFd, size, mapped, flags, header);
        return decoded.image != nullptr && WriteAll(output, &decoded.note, sizeof decoded.note) &&
                       WriteDecodedImage(decoded.image, output)
                   ? 0
                   : 1;
      },
      [&](SandboxOutput& output) {
        const RecordSource source = [&output](void* buffer, std::size_t bytes) { return output.Read(buffer, bytes); };
        if (!source(&note, sizeof note)) return false;
        load.image = ReceiveDecodedImage(source, header.width, header.height, maxPixelBytes);
        return static_cast<bool>(load.image);
      });
  if (!result.Succeeded()) return Failure(DescribeDecoderEnd(result, limits));
  if (!load.image) return Failure(kDecoderInconsistent);
  if (note.rebuilt != 0 || note.placeholderKept != 0) WriteErrorLine("kestrel: " + path + ": " + DescribeRebuild(note));
  return load;
}

ImageResult LoadPsdInProcess(const std::string& path, int flags) {
  OpenedInput input = OpenAndCheck(path);
  if (!input.failure.empty()) return Failure(input.failure);
  const FileMapping mapping(input.fd.Get(), input.size);
  ImageResult load;
  load.image = Adopt(DecodePsd(input.fd.Get(), input.size, mapping.Data(), flags, input.header).image);
  if (!load.image) return Failure(kDecoderUnreadable);
  return load;
}

}  // namespace kestrel
