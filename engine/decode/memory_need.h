// The memory a conversion needs, estimated from the file's header before
// anything is decoded, against the memory the machine has: a picture that
// cannot fit is refused at once, with the reason, rather than driving the
// machine into swapping or the process into the out-of-memory killer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

// Bytes the conversion of this image holds at its peak, from its size,
// channels and depth: the decoded bitmap and the copies the steps make beside
// it (measured: 21 bytes a pixel for 16-bit RGB, 3 to 6 for 8-bit RGB).
std::uint64_t ConversionPeakBytes(const PsdHeader& header);

// Bytes of one canvas of the layer compositor over the whole picture: colour
// and alpha, in samples of the file's depth (floats for 32 bits).
std::uint64_t LayerCanvasBytes(const PsdHeader& header);

// Bytes the compositor holds at its peak drawing `layers`: the picture's
// canvas, the picture made from it, and the canvases nested at the deepest
// point of the tree of groups.
std::uint64_t CompositorBytes(const PsdHeader& header, const std::vector<PsdLayer>& layers);

// Empty when the conversion fits in its budget, three quarters of the memory
// available now; otherwise why not. `decoderBytes`: what the decoder child
// holds when it draws the picture from the layers (0 when it does not), also
// held against the most a decoder is given.
std::string MemoryShortage(const PsdHeader& header, std::uint64_t decoderBytes = 0);

// Test hook: when non-zero, the budget instead of the one the machine gives.
void SetMemoryBudgetForTesting(std::uint64_t bytes);

}  // namespace kestrel
