#include "engine/composite/fill_layers.h"

#include "engine/composite/gradients.h"
#include "engine/composite/plane_samples.h"
#include "engine/composite/rects.h"
#include "engine/psd/descriptor.h"
#include "engine/composite/vector_mask.h"

namespace kestrel {

PsdRect FillLayerBounds(const PsdLayer& layer, const PsdRect& canvas) {
  return layer.hasVectorMask && !layer.vectorMask.disabled ? VectorMaskBounds(layer.vectorMask, canvas) : canvas;
}

std::optional<FillPixels> DrawFillLayer(std::span<const std::uint8_t> file, const PsdLayer& layer,
                                        const PsdHeader& header, const DescriptorColours& colours) {
  const int channels = colours.Channels();
  const PsdBlockRef& block = layer.fill;
  const int depth = header.depth;
  if (!block.Present() || block.offset > file.size() || block.length > file.size() - block.offset) return std::nullopt;
  if ((depth != 8 && depth != 16 && depth != 32) || channels < 1 || channels > 4) return std::nullopt;
  const std::optional<DescriptorValue> settings =
      ReadVersionedDescriptor(file.subspan(block.offset, block.length), 0);
  if (!settings) return std::nullopt;

  float solid[4] = {0, 0, 0, 0};
  std::optional<Gradient> gradient;
  if (block.key == FourCC("SoCo")) {
    const DescriptorValue* colour = settings->Find("Clr ");
    if (colour == nullptr || !colours.Read(*colour, solid)) return std::nullopt;
  } else if (block.key == FourCC("GdFl")) {
    gradient = ReadGradient(*settings, colours);
    if (!gradient) return std::nullopt;
    gradient->wholePixelEnds = true;
  } else {
    return std::nullopt;  // patterns are not drawn
  }

  const PsdRect canvas = PictureRect(header);
  const bool shaped = layer.hasVectorMask && !layer.vectorMask.disabled;
  FillPixels out;
  out.rect = FillLayerBounds(layer, canvas);
  const auto count = static_cast<std::uint64_t>(out.rect.Width() * out.rect.Height());
  const auto bytes = static_cast<std::size_t>(count * static_cast<std::uint64_t>(depth / 8));
  out.planes.assign(static_cast<std::size_t>(channels + 1), std::vector<std::uint8_t>(bytes));
  if (count == 0) return out;

  std::vector<float> coverage = shaped ? RasteriseVectorMask(layer.vectorMask, out.rect) : std::vector<float>(count, 1.0f);
  std::vector<float> colour(count * static_cast<std::uint64_t>(channels));
  if (gradient) {
    // A gradient aligned with the layer spans the shape's bounds, otherwise the canvas.
    const PsdRect box = settings->BooleanOr("Algn", true) ? out.rect : canvas;
    std::vector<float> opacity(count);
    PaintGradient(*gradient, box, out.rect, channels, colour.data(), opacity.data());
    for (std::uint64_t i = 0; i < count; ++i) coverage[i] *= opacity[i];
  } else {
    for (std::uint64_t i = 0; i < count; ++i) std::copy_n(solid, channels, colour.data() + i * static_cast<std::uint64_t>(channels));
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    WritePlaneSample(out.planes[0].data(), i, depth, coverage[i]);
    for (int c = 0; c < channels; ++c) {
      WritePlaneSample(out.planes[static_cast<std::size_t>(c + 1)].data(), i, depth,
                       colour[i * static_cast<std::uint64_t>(channels) + static_cast<std::uint64_t>(c)]);
    }
  }
  return out;
}

}  // namespace kestrel
