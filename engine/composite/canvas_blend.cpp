#include "engine/composite/canvas_blend.h"

#include <type_traits>

namespace kestrel {
namespace {

// Pixels blended together at most: their floats stay on the stack.
constexpr std::size_t kBlendChunk = 256;

struct FractionSource {
  const float* colour;
  float Get(std::size_t x, int k, int n) const { return colour[x * n + k]; }
};

struct ChannelByteSource {
  ChannelBytes bytes;
  float Get(std::size_t x, int k, int) const { return bytes.rows[k][x] * (1.0f / 255); }
};

// N, the number of colour channels, is fixed so that the loops unroll.
template <int N, typename T, typename Source>
void BlendRowOf(BlendMode mode, BlendSpace space, Canvas<T>& canvas, std::int64_t y, std::int64_t left,
                std::size_t count, const Source& source, const float* __restrict coverage) {
  T* __restrict c = canvas.ColourAt(left, y);
  T* __restrict a = canvas.AlphaAt(left, y);
  int offset[N];
  for (int k = 0; k < N; ++k) offset[k] = canvas.colourOffset[k];
  const bool plain = mode == BlendMode::Normal || mode == BlendMode::Dissolve || mode == BlendMode::PassThrough;
  std::size_t x = 0;
  while (x < count) {
    // A run of fully covered pixels in a plain mode: the source's own colour.
    if (plain) {
      std::size_t end = x;
      // Eight at a time first, which the compiler can do in one vector compare.
      while (end + 8 <= count) {
        bool full = true;
        for (std::size_t j = 0; j < 8; ++j) full &= coverage[end + j] >= 1;
        if (!full) break;
        end += 8;
      }
      while (end < count && coverage[end] >= 1) ++end;
      if constexpr (std::is_same_v<Source, ChannelByteSource>) {
        for (int k = 0; k < N; ++k) {
          const std::uint8_t* __restrict from = source.bytes.rows[k];
          T* __restrict to = c + offset[k];
          for (std::size_t i = x; i < end; ++i) to[i * N] = from[i];
        }
      } else {
        for (std::size_t i = x; i < end; ++i) {
          for (int k = 0; k < N; ++k) FromFloat(source.Get(i, k, N), c[i * N + offset[k]]);
        }
      }
      for (std::size_t i = x; i < end; ++i) FromFloat(1.0f, a[i]);
      if (end > x) {
        x = end;
        continue;
      }
    }
    if (!(coverage[x] > 0)) {
      ++x;
      continue;
    }
    // A run of pixels to blend: gathered as floats, blended together, put back.
    float colour[kBlendChunk * N];
    float backdrop[kBlendChunk * N];
    float backdropAlpha[kBlendChunk];
    std::size_t end = x;
    while (end < count && end - x < kBlendChunk && coverage[end] > 0 && !(plain && coverage[end] >= 1)) ++end;
    const std::size_t run = end - x;
    for (std::size_t i = 0; i < run; ++i) {
      const T* pixel = c + (x + i) * N;
      for (int k = 0; k < N; ++k) {
        colour[i * N + k] = source.Get(x + i, k, N);
        backdrop[i * N + k] = ToFloat(pixel[offset[k]]);
      }
      backdropAlpha[i] = ToFloat(a[x + i]);
    }
    BlendPixels(mode, N, backdrop, backdropAlpha, colour, coverage + x, run, space);
    for (std::size_t i = 0; i < run; ++i) {
      T* pixel = c + (x + i) * N;
      for (int k = 0; k < N; ++k) FromFloat(backdrop[i * N + k], pixel[offset[k]]);
      FromFloat(backdropAlpha[i], a[x + i]);
    }
    x = end;
  }
}

template <typename T, typename Source>
void BlendRowOfChannels(BlendMode mode, BlendSpace space, Canvas<T>& canvas, std::int64_t y, std::int64_t left,
                        std::size_t count, const Source& source, const float* coverage) {
  switch (canvas.channels) {
    case 1: return BlendRowOf<1>(mode, space, canvas, y, left, count, source, coverage);
    case 3: return BlendRowOf<3>(mode, space, canvas, y, left, count, source, coverage);
    default: return BlendRowOf<4>(mode, space, canvas, y, left, count, source, coverage);
  }
}

}  // namespace

template <typename T>
void BlendRow(BlendMode mode, BlendSpace space, Canvas<T>& canvas, std::int64_t y, std::int64_t left,
              std::size_t count, const float* colour, const float* coverage) {
  BlendRowOfChannels(mode, space, canvas, y, left, count, FractionSource{colour}, coverage);
}

void BlendRow(BlendMode mode, BlendSpace space, Canvas<std::uint8_t>& canvas, std::int64_t y, std::int64_t left,
              std::size_t count, const ChannelBytes& colour, const float* coverage) {
  BlendRowOfChannels(mode, space, canvas, y, left, count, ChannelByteSource{colour}, coverage);
}

template void BlendRow(BlendMode, BlendSpace, Canvas<std::uint8_t>&, std::int64_t, std::int64_t, std::size_t,
                       const float*, const float*);
template void BlendRow(BlendMode, BlendSpace, Canvas<std::uint16_t>&, std::int64_t, std::int64_t, std::size_t,
                       const float*, const float*);
template void BlendRow(BlendMode, BlendSpace, Canvas<float>&, std::int64_t, std::int64_t, std::size_t, const float*,
                       const float*);

}  // namespace kestrel
