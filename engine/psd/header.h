// A cheap structural check of a Photoshop file, made from the file's own bytes
// before any decoder sees it. It refuses what no well-formed file holds: a wrong
// signature or version, out-of-range channels, size, depth or colour mode,
// sections that run past the end of the file, and a declared image that the
// file is too small to hold. Pure code over bytes: it decodes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/byte_reader.h"

namespace kestrel {

inline constexpr std::uint16_t kPsdModeBitmap = 0;
inline constexpr std::uint16_t kPsdModeGreyscale = 1;
inline constexpr std::uint16_t kPsdModeIndexed = 2;
inline constexpr std::uint16_t kPsdModeRgb = 3;
inline constexpr std::uint16_t kPsdModeCmyk = 4;
inline constexpr std::uint16_t kPsdModeMultichannel = 7;
inline constexpr std::uint16_t kPsdModeDuotone = 8;
inline constexpr std::uint16_t kPsdModeLab = 9;

inline constexpr std::uint16_t kPsdRaw = 0;
inline constexpr std::uint16_t kPsdRunLength = 1;
inline constexpr std::uint16_t kPsdZip = 2;
inline constexpr std::uint16_t kPsdZipPredicted = 3;

struct PsdHeader {
  int version = 0;  // 1: PSD, 2: PSB
  int channels = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int depth = 0;  // bits per channel
  int colourMode = 0;
  std::uint64_t colourDataOffset = 0;  // where the colour mode data begins
  std::uint32_t colourDataLength = 0;
  std::uint64_t resourcesOffset = 0;     // the image resources, after their length
  std::uint64_t resourcesLength = 0;
  std::uint64_t layerSectionOffset = 0;  // the layer and mask information, after its length
  std::uint64_t layerSectionLength = 0;
  std::uint64_t imageDataOffset = 0;   // the compression word of the merged image
  int compression = 0;
  std::uint64_t rowBytes = 0;          // bytes of one row of one channel
  // An upper bound of the bytes of the bitmap a decoder makes of this image.
  std::uint64_t decodedBytes = 0;
};

struct PsdHeaderCheck {
  bool ok = false;
  // Why the file was refused, in plain words for the user: "not a Photoshop
  // file", or "damaged Photoshop file: " or "unsupported Photoshop file: "
  // followed by what is wrong, with the offending value where there is one.
  std::string problem;
  PsdHeader header;
};

// Checks a file of fileSize bytes read through `read`.
PsdHeaderCheck CheckPsdHeader(std::uint64_t fileSize, const ByteSource& read);

// The same over bytes in memory.
PsdHeaderCheck CheckPsdHeader(std::span<const std::uint8_t> bytes);

}  // namespace kestrel
