// Lays a row of source pixels over a row of a canvas in a blend mode, each
// pixel at its coverage (0..1: the layer's alpha cut by its masks and
// opacity). Pixels the source does not cover are left alone, and a fully
// covering source in a plain mode is written as it is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/composite/blend_modes.h"
#include "engine/composite/canvas.h"

namespace kestrel {

// Source colour as fractions, `canvas.channels` to a pixel, file order.
template <typename T>
void BlendRow(BlendMode mode, BlendSpace space, Canvas<T>& canvas, std::int64_t y, std::int64_t left,
              std::size_t count, const float* colour, const float* coverage);

// 8-bit source colour straight from a layer's channels: one row of bytes per
// colour channel, so that fully covered pixels are copied without floats.
struct ChannelBytes {
  const std::uint8_t* rows[4];
};
void BlendRow(BlendMode mode, BlendSpace space, Canvas<std::uint8_t>& canvas, std::int64_t y, std::int64_t left,
              std::size_t count, const ChannelBytes& colour, const float* coverage);

}  // namespace kestrel
