// Fill layers that store only their settings (16- and 32-bit files keep no
// pixels for them): a solid colour, a gradient or a pattern, cut by the layer's vector
// mask, painted a row at a time in the form its decoded channels would have
// had, so that a fill costs a row of memory rather than planes of the canvas.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/composite/gradients.h"
#include "engine/composite/patterns.h"
#include "engine/psd/descriptor.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

// A fill layer that stores nothing but its settings (a rectangle with empty
// channels) is drawn from them.
bool DrawnFromSettings(const PsdLayer& layer);

// Where a fill layer's pixels lie: its vector mask's bounds, or the whole
// canvas without one.
PsdRect FillLayerBounds(const PsdLayer& layer, const PsdRect& canvas);

// Paints the rows of one fill layer over its bounds.
class FillPainter {
 public:
  // A pattern fill passes `patterns` with the settings' choice of pattern
  // (its painter is then made here, for the fill's bounds).
  FillPainter(const PsdLayer& layer, const PsdHeader& header, int channels, const float* solid,
              std::optional<Gradient> gradient, bool alignedWithLayer, const PatternLibrary* patterns = nullptr,
              const PatternChoice* pattern = nullptr);
  FillPainter(const FillPainter&) = delete;
  FillPainter& operator=(const FillPainter&) = delete;

  const PsdRect& Rect() const { return rect_; }
  // Whether every pixel it paints is opaque: no shape cuts it, its
  // gradient, if any, is opaque at every stop, and it is no pattern.
  bool Opaque() const;
  // Writes row y of the fill over its bounds' columns: transparency into
  // rows[0], colour channel c into rows[c + 1], as samples at the file's depth.
  void PaintRow(std::int64_t y, std::uint8_t* const* rows);

 private:
  PsdRect rect_;
  int channels_;
  int depth_;
  float solid_[4] = {0, 0, 0, 0};
  std::optional<Gradient> gradient_;
  std::optional<GradientPainter> painter_;  // paints gradient_, when there is one
  std::unique_ptr<PatternPainter> pattern_;  // or the pattern
  std::vector<float> shape_;                // the vector mask's coverage over rect_, or empty
  std::vector<float> colour_, opacity_;     // one row
};

// A fill layer's painter, or nothing when it is not drawn: patterns that are
// not in the file, noise gradients, colours that cannot be read, or settings that are damaged
// (`damaged` then says so, for the user to be told which layer).
struct FillReading {
  std::unique_ptr<FillPainter> painter;
  bool damaged = false;
};

// Reads `layer`'s fill settings for the colour channels of `colours`; a
// pattern fill's pattern is found in `patterns`.
FillReading ReadFillLayer(std::span<const std::uint8_t> file, const PsdLayer& layer, const PsdHeader& header,
                          const DescriptorColours& colours, const PatternLibrary& patterns);

}  // namespace kestrel
