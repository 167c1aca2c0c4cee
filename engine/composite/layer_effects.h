// A layer's style as its object-based effects block describes it: the
// effects drawn (engine/composite/effect_kinds.h), and the names of those
// that are not. A style of colour and gradient overlays alone is painted on
// the layer's rows as they are read: the overlays repaint the layer's colour
// wherever it has pixels, leaving its transparency alone.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/composite/blend_modes.h"
#include "engine/composite/effect_kinds.h"
#include "engine/composite/gradients.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

struct Overlay {
  BlendMode mode = BlendMode::Normal;
  float opacity = 1;
  float colour[4] = {0, 0, 0, 0};   // a colour overlay's colour, in the file's samples
  std::optional<Gradient> gradient;  // or a gradient overlay's gradient
  bool alignWithLayer = true;        // the gradient spans the layer, otherwise the canvas
};

struct LayerStyle {
  std::vector<PlacedEffect> effects;  // every effect drawn, bottom to top
  // When those are overlays alone, their settings, bottom to top: they are
  // painted on the layer's rows as they are read.
  std::vector<Overlay> overlays;
  std::vector<std::string> notDrawn;  // the kinds of enabled effect that are not drawn
  bool leftOut = false;               // some enabled effect is not drawn
  BlendSpace space = BlendSpace::Light;  // what the file's colour samples are to the overlays' modes

  // How far the effects reach beyond the layer's shape, in pixels.
  int Reach() const;
};

// An overlay effect's settings, or empty when it cannot be drawn.
std::optional<Overlay> ReadOverlay(const DescriptorValue& effect, bool gradient, const DescriptorColours& colours);

// The style of `layer`, read from the file; a style that cannot be read is left out whole.
LayerStyle ReadLayerStyle(std::span<const std::uint8_t> file, const PsdLayer& layer, const EffectContext& context);

// Paints a layer's overlays on its rows, one row at a time, in the form of
// unpacked channel samples; the layer covers `rect` of the canvas (`canvas`
// is the whole picture, over which a gradient not aligned with the layer is
// laid). The layer's fill opacity fades its own pixels but not the
// overlays, so it is applied here, to the transparency: the compositor must
// not apply it again. `style` must outlive the painter.
class OverlayPainter {
 public:
  OverlayPainter(const LayerStyle& style, const PsdRect& rect, const PsdRect& canvas, int depth, int channels,
                 float fillOpacity);
  // Row y of the layer: rows[0] transparency, then `channels` colour rows at
  // `depth` bits, each as wide as `rect` and every one present (a missing
  // colour channel as zeros, missing transparency as opaque).
  void PaintRow(std::int64_t y, std::uint8_t* const* rows);

 private:
  const LayerStyle& style_;
  PsdRect rect_;
  int depth_;
  int channels_;
  float fillOpacity_;
  std::uint64_t width_;
  std::vector<std::optional<GradientPainter>> painters_;  // one for each gradient overlay
  std::vector<float> colour_, paint_, coverage_, content_;
};

}  // namespace kestrel
