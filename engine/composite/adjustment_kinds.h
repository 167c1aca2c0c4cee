// The kinds of adjustment and fill layer by their settings blocks, and their
// names for the user: which kinds were left out of a picture travels as a set
// of bits, one for each row of the table.
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_reader.h"

namespace kestrel {

// The bit of the kind whose settings block is `key` (0 for a block of no kind known).
std::uint32_t AdjustmentKindBit(FourCC key);

// "hue/saturation, vibrance and colour lookup": the kinds whose bits are set, in table order.
std::string AdjustmentKindNames(std::uint32_t bits);

}  // namespace kestrel
