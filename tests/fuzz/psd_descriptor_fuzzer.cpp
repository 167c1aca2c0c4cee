// libFuzzer target for the descriptor reader and what is drawn from
// descriptors: the input is taken as a fill layer's settings (solid colour,
// gradient, then pattern) and as a layer style, each drawn on a small
// canvas; and as a block of stored patterns and one pattern.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/composite/fill_layers.h"
#include "engine/composite/layer_effects.h"
#include "engine/composite/patterns.h"
#include "engine/composite/stored_colour_display.h"
#include "engine/psd/descriptor.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  kestrel::ReadDescriptor(bytes);
  for (const int mode : {kestrel::kPsdModeRgb, kestrel::kPsdModeGreyscale, kestrel::kPsdModeCmyk, kestrel::kPsdModeLab}) {
    kestrel::PsdHeader header;
    header.width = 7;
    header.height = 5;
    header.depth = mode == kestrel::kPsdModeGreyscale ? 32 : mode == kestrel::kPsdModeLab ? 16 : 8;
    header.colourMode = mode;
    const kestrel::DescriptorColours colours(mode, header.depth);
    const int channels = colours.Channels();
    kestrel::DecodePattern(bytes, mode, channels);
    kestrel::PatternLibrary patterns({}, header, channels);
    patterns.AddBlock(kestrel::ByteReader(bytes));
    kestrel::PsdLayer layer;
    layer.isFill = true;
    for (const kestrel::FourCC key : {kestrel::FourCC("SoCo"), kestrel::FourCC("GdFl"), kestrel::FourCC("PtFl")}) {
      layer.fill = kestrel::PsdBlockRef{key, 0, size};
      const kestrel::FillReading fill = kestrel::ReadFillLayer(bytes, layer, header, colours, patterns);
      if (!fill.painter) continue;
      const kestrel::PsdRect& bounds = fill.painter->Rect();
      std::vector<std::vector<std::uint8_t>> planes(static_cast<std::size_t>(channels + 1),
                                                    std::vector<std::uint8_t>(7u * header.depth / 8));
      std::vector<std::uint8_t*> rows;
      for (std::vector<std::uint8_t>& plane : planes) rows.push_back(plane.data());
      for (std::int64_t y = bounds.top; y < bounds.bottom; ++y) fill.painter->PaintRow(y, rows.data());
    }
    layer.hasEffects = true;
    layer.effects = kestrel::PsdBlockRef{kestrel::FourCC("lfx2"), 0, size};
    const kestrel::PsdRect rect{1, 1, 4, 6};
    const kestrel::PsdRect canvas{0, 0, 5, 7};
    const kestrel::EffectContext context{colours, kestrel::BlendSpaceOf(mode, header.depth), channels, canvas, 120, 30,
                                         nullptr, &patterns};
    const kestrel::LayerStyle style = kestrel::ReadLayerStyle(bytes, layer, context);
    // Every effect drawn from a small shape.
    kestrel::ShapePlane shape{canvas, std::vector<float>(35, 0.0f), rect};
    for (std::int64_t y = rect.top; y < rect.bottom; ++y) {
      for (std::int64_t x = rect.left; x < rect.right; ++x) shape.alpha[static_cast<std::size_t>(y * 7 + x)] = 1;
    }
    for (const kestrel::PlacedEffect& effect : style.effects) effect.effect.paint(shape);
    std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(channels + 1),
                                                std::vector<std::uint8_t>(5u * header.depth / 8));
    std::vector<std::uint8_t*> current;
    for (std::vector<std::uint8_t>& row : rows) current.push_back(row.data());
    kestrel::OverlayPainter painter(style, rect, canvas, header.depth, channels, 0.5f);
    for (std::int64_t y = rect.top; y < rect.bottom; ++y) painter.PaintRow(y, current.data());
  }
  return 0;
}
