#include "engine/confine/confined_decode.h"

#include <algorithm>
#include <limits>

#include "engine/confine/untrusted_file.h"
#include "platform/sanitizer.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kMiB = 1ull << 20;
// Child memory beyond what the decode holds: FreeImage's buffers and tables, the transfer copy.
constexpr std::uint64_t kBaseAddressSpace = 256 * kMiB;

// The child's memory besides the decode's work.
std::uint64_t OwnAddressSpace() {
  // The sanitizer's allocator keeps freed memory in quarantine and maps shadow memory.
  return kBaseAddressSpace + (kSanitizedBuild ? 1024 * kMiB : 0);
}

// No child is given more than half the machine's memory.
std::uint64_t MostAddressSpace(std::uint64_t machine) {
  return std::max<std::uint64_t>(machine / 2, kBaseAddressSpace);
}

}  // namespace

std::uint64_t DecodeWorkCapBytes() {
  const std::uint64_t machine = PhysicalMemoryBytes();
  if (machine == 0) return 0;
  const std::uint64_t most = MostAddressSpace(machine);
  return most > OwnAddressSpace() ? most - OwnAddressSpace() : 1;
}

SandboxLimits DecodeLimits(std::uint64_t workBytes, std::uint64_t cpuSeconds, std::uint64_t wallMilliseconds) {
  SandboxLimits limits;
  std::uint64_t space = OwnAddressSpace() + workBytes;
  const std::uint64_t machine = PhysicalMemoryBytes();
  if (machine > 0) space = std::min(space, MostAddressSpace(machine));
  limits.extraAddressSpace = space;
  limits.cpuSeconds = static_cast<int>(std::min(cpuSeconds, kMaxDecodeCpuSeconds));
  limits.wallMilliseconds =
      static_cast<int>(std::min<std::uint64_t>(wallMilliseconds, std::numeric_limits<int>::max()));
  return limits;
}

ImageResult RunConfinedDecode(const ConfinedDecode& run) {
  ImageResult load;
  const auto receive = [&](SandboxOutput& output) {
    const RecordSource source = [&output](void* buffer, std::size_t bytes) { return output.Read(buffer, bytes); };
    if (run.readAhead && !run.readAhead(source)) return false;
    load.image = ReceiveDecodedImage(source, run.width, run.height, run.maxPixelBytes);
    return static_cast<bool>(load.image);
  };
  const SandboxResult result = run.work.run != nullptr
                                   ? RunSandboxedWork(run.limits, run.fd, run.size, run.work, receive)
                                   : RunSandboxed(run.limits, SandboxDescriptors{{run.fd}, {}}, run.decode, receive);
  if (!result.Succeeded()) load.failure = DescribeDecoderEnd(result, run.limits);
  else if (!load.image) load.failure = kDecoderInconsistent;
  if (!load.failure.empty()) load.image.reset();
  return load;
}

}  // namespace kestrel
