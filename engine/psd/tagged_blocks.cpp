#include "engine/psd/tagged_blocks.h"

#include <array>

namespace kestrel {
namespace {

// Keys whose length is 8 bytes wide in a PSB file, as Photoshop writes them.
constexpr std::array<FourCC, 20> kWideLengthKeys = {
    "LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn", "Alph", "FMsk", "lnk2",
    "FEid", "FXid", "PxSD", "lnkE", "pths", "extd", "exPr", "cinf", "artd", "lnk3"};

bool IsSignature(FourCC code) { return code == FourCC("8BIM") || code == FourCC("8B64"); }

}  // namespace

bool HasWideLength(FourCC key) {
  for (const FourCC wide : kWideLengthKeys) {
    if (key == wide) return true;
  }
  return false;
}

void ForEachTaggedBlock(ByteReader blocks, int version, const std::function<bool(FourCC key, ByteReader data)>& visit) {
  while (blocks.Left() >= 12) {
    const std::uint64_t start = blocks.At();
    if (!IsSignature(blocks.Code())) return;
    const FourCC key = blocks.Code();
    const std::uint64_t length = blocks.Big(version == 2 && HasWideLength(key) ? 8 : 4);
    ByteReader data = blocks.Take(length);
    if (!blocks.Ok() || !visit(key, data)) return;
    const std::uint64_t padded = start + (blocks.At() - start + 3) / 4 * 4;
    if (padded != blocks.At() && padded <= blocks.End() && blocks.End() - padded >= 4) {
      ByteReader after = blocks.Range(padded, 4);
      if (IsSignature(after.Code())) blocks.MoveTo(padded);
    }
  }
}

}  // namespace kestrel
