// One confined decode of an untrusted file, whatever its format: the limits
// it runs under, worked out from what the decode holds and needs, and the run
// itself. The child writes what it has to say ahead of the picture, then the
// bitmap record; the parent reads the two and checks the record against the
// size the file's header declared. A crash, a limit or a hang of the decoder
// fails that file only, with the reason in words for the user.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/bitmap/image.h"
#include "engine/confine/bitmap_record.h"
#include "platform/sandbox.h"

namespace kestrel {

// Decoding runs at several hundred MB/s; the CPU limits allow a tenth of that.
inline constexpr std::uint64_t kDecodedBytesPerCpuSecond = 32ull << 20;
inline constexpr std::uint64_t kBaseCpuSeconds = 2;
// A day: no decode is given more CPU.
inline constexpr std::uint64_t kMaxDecodeCpuSeconds = 24 * 3600;

// The limits of a decode that holds `workBytes` besides the decoder's own
// memory (pictures, copies, the mapped file), may use `cpuSeconds` of CPU
// (at most kMaxDecodeCpuSeconds) and may take `wallMilliseconds` in all.
SandboxLimits DecodeLimits(std::uint64_t workBytes, std::uint64_t cpuSeconds, std::uint64_t wallMilliseconds);

// The most work a decode is given on this machine (DecodeLimits holds the
// child to half the physical memory); 0 when the machine's memory is unknown.
std::uint64_t DecodeWorkCapBytes();

struct ConfinedDecode {
  SandboxLimits limits;
  int fd = -1;  // the open file, the one descriptor the child keeps
  std::uint64_t size = 0;  // its size
  // Runs in the child: writes to `output` and gives the child's exit code (0 when all was written).
  // Either `work`, which the process's zygote can run too (the file mapped for it), or `decode`.
  SandboxWork work;
  std::function<int(int output)> decode;
  // Reads what the child writes ahead of the record; false when it is not
  // what it should be. May be empty.
  std::function<bool(const RecordSource& source)> readAhead;
  std::uint32_t width = 0;  // the picture the file's header declares
  std::uint32_t height = 0;
  std::uint64_t maxPixelBytes = 0;
};

// The picture, or why there is none: the decoder failed, crashed, was
// stopped at a limit, or sent back what does not match the header.
ImageResult RunConfinedDecode(const ConfinedDecode& run);

}  // namespace kestrel
