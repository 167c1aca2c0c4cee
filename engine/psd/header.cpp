#include "engine/psd/header.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

constexpr std::uint64_t kFileHeaderSize = 26;
constexpr std::uint32_t kMaxPsdSide = 30000;
constexpr std::uint32_t kMaxPsbSide = 300000;
// Count-table entries read per step while adding up the run-length rows.
constexpr std::size_t kCountChunk = 16384;

// The colour mode's name, or null for a mode no Photoshop file has.
const char* ModeName(int mode) {
  switch (mode) {
    case kPsdModeBitmap: return "bitmap";
    case kPsdModeGreyscale: return "greyscale";
    case kPsdModeIndexed: return "indexed";
    case kPsdModeRgb: return "RGB";
    case kPsdModeCmyk: return "CMYK";
    case kPsdModeMultichannel: return "multichannel";
    case kPsdModeDuotone: return "duotone";
    case kPsdModeLab: return "Lab";
    default: return nullptr;
  }
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

PsdHeaderCheck Refuse(std::string problem) { return PsdHeaderCheck{false, std::move(problem), {}}; }
PsdHeaderCheck Damaged(const std::string& what) { return Refuse("damaged Photoshop file: " + what); }
PsdHeaderCheck Unsupported(const std::string& what) { return Refuse("unsupported Photoshop file: " + what); }

// A section of the file: its length field, `lengthBytes` wide, then its
// bytes. Reads the field and moves past the section; false when the section
// runs past the end of the file.
bool TakeSection(ByteReader& file, int lengthBytes, std::uint64_t& offset, std::uint64_t& length) {
  length = file.Big(lengthBytes);
  offset = file.At();
  file.Skip(length);
  return file.Ok();
}

// The run-length count table: every row needs at least the packets that can
// produce rowBytes bytes (two bytes per 128), and all rows together must lie
// inside the file. Gives what is wrong, or nothing.
std::string RunLengthRowsProblem(std::uint64_t fileSize, const ByteSource& read, const PsdHeader& header,
                                 std::uint64_t tableAt) {
  const std::uint64_t rows = static_cast<std::uint64_t>(header.channels) * header.height;
  const int entryBytes = header.version == 1 ? 2 : 4;
  const std::uint64_t tableBytes = rows * entryBytes;
  if (tableBytes > fileSize - tableAt) return "the run-length row table runs past the end of the file";
  const std::uint64_t available = fileSize - tableAt - tableBytes;
  const std::uint64_t smallestRow = 2 * ((header.rowBytes + 127) / 128);
  // Cheap first: even the smallest rows must fit.
  if (rows * smallestRow > available) return "the image data is shorter than the header says";

  std::vector<std::uint8_t> chunk(kCountChunk * entryBytes);
  std::uint64_t total = 0;
  for (std::uint64_t done = 0; done < rows;) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kCountChunk, rows - done));
    if (!read(tableAt + done * entryBytes, chunk.data(), count * entryBytes)) {
      return "the run-length row table cannot be read";
    }
    ByteReader table(std::span<const std::uint8_t>(chunk.data(), count * entryBytes));
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t row = table.Big(entryBytes);
      if (row < smallestRow) {
        return "run-length row " + Number(done + i + 1) + " has " + Number(row) + " bytes, too few for a row of " +
               Number(header.width) + " pixels";
      }
      total += row;
    }
    if (total > available) return "the image data is shorter than its run-length row table says";
    done += count;
  }
  return {};
}

}  // namespace

PsdHeaderCheck CheckPsdHeader(std::uint64_t fileSize, const ByteSource& read) {
  ByteReader file(read, fileSize);
  std::uint8_t signature[4] = {};
  const auto present = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 4));
  if (present > 0 && !file.Copy(signature, present)) return Refuse("cannot read the file");
  if (fileSize < 4 || std::memcmp(signature, "8BPS", 4) != 0) return Refuse("not a Photoshop file");
  if (fileSize < kFileHeaderSize) return Damaged("the file ends inside its header, after " + Number(fileSize) + " bytes");

  PsdHeader header;
  header.version = file.U16();
  file.Skip(6);  // reserved
  header.channels = file.U16();
  header.height = file.U32();
  header.width = file.U32();
  header.depth = file.U16();
  header.colourMode = file.U16();
  if (!file.Ok()) return Refuse("cannot read the file");
  if (header.version != 1 && header.version != 2) return Damaged("the header gives version " + Number(header.version));
  // Photoshop writes more channels than the format's stated 56 (a picture with
  // 53 saved selections has 57); the memory budget bounds what a file may take.
  if (header.channels < 1) return Damaged("the header gives " + Number(header.channels) + " channels");
  const std::uint32_t maxSide = header.version == 1 ? kMaxPsdSide : kMaxPsbSide;
  if (header.width < 1 || header.width > maxSide || header.height < 1 || header.height > maxSide) {
    return Damaged("the header gives a size of " + Number(header.width) + " x " + Number(header.height) +
                   " pixels (at most " + Number(maxSide) + " a side)");
  }
  if (header.depth != 1 && header.depth != 8 && header.depth != 16 && header.depth != 32) {
    return Damaged("the header gives depth " + Number(header.depth));
  }
  const char* mode = ModeName(header.colourMode);
  if (mode == nullptr) return Damaged("the header gives colour mode " + Number(header.colourMode));
  // One bit per pixel belongs to bitmap mode alone; indexed colour is 8-bit.
  if ((header.depth == 1) != (header.colourMode == kPsdModeBitmap) ||
      (header.colourMode == kPsdModeIndexed && header.depth != 8)) {
    return Damaged("the header gives depth " + Number(header.depth) + " in " + mode + " mode");
  }

  std::uint64_t colourLength = 0;
  if (!TakeSection(file, 4, header.colourDataOffset, colourLength)) {
    return Damaged("the colour mode data runs past the end of the file");
  }
  header.colourDataLength = static_cast<std::uint32_t>(colourLength);
  if (!TakeSection(file, 4, header.resourcesOffset, header.resourcesLength)) {
    return Damaged("the image resources run past the end of the file");
  }
  if (!TakeSection(file, header.version == 1 ? 4 : 8, header.layerSectionOffset, header.layerSectionLength)) {
    return Damaged("the layer and mask information runs past the end of the file");
  }

  header.imageDataOffset = file.At();
  header.compression = file.U16();
  if (!file.Ok()) return Damaged("the file ends before the image data");
  const std::uint64_t at = file.At();

  header.rowBytes = header.depth == 1 ? (std::uint64_t{header.width} + 7) / 8
                                      : std::uint64_t{header.width} * (header.depth / 8);
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  header.decodedBytes = header.depth == 1 ? pixels / 8 + header.height * 4 : pixels * 4 * (header.depth / 8);

  if (header.compression == kPsdRaw) {
    const std::uint64_t needed = static_cast<std::uint64_t>(header.channels) * header.height * header.rowBytes;
    if (needed > fileSize - at) {
      return Damaged("the image data is shorter than the header says: " + Number(needed) + " bytes needed, " +
                     Number(fileSize - at) + " present");
    }
  } else if (header.compression == kPsdRunLength) {
    if (std::string problem = RunLengthRowsProblem(fileSize, read, header, at); !problem.empty()) {
      return Damaged(problem);
    }
  } else if (header.compression == kPsdZip || header.compression == kPsdZipPredicted) {
    return Unsupported("ZIP-compressed image data");
  } else {
    return Damaged("the image data gives compression method " + Number(header.compression));
  }
  return PsdHeaderCheck{true, {}, header};
}

PsdHeaderCheck CheckPsdHeader(std::span<const std::uint8_t> bytes) { return CheckPsdHeader(bytes.size(), SourceOf(bytes)); }

}  // namespace kestrel
