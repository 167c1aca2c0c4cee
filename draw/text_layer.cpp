#include "draw/text_layer.h"

#include <algorithm>
#include <cmath>

#include "draw/layer.h"
#include "draw/layer_coverage.h"
#include "output/naming.h"
#include "engine/steps/depth.h"

namespace kestrel {
namespace {

bool IsLineMarkerAt(const std::string& text, std::size_t at) {
  static constexpr char kMarker[] = "%eol%";
  if (text.size() - at < 5) return false;
  for (std::size_t i = 0; i < 5; ++i) {
    char c = text[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kMarker[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitWatermarkLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size();) {
    if (IsLineMarkerAt(text, i)) {
      lines.emplace_back();
      i += 5;
    } else {
      lines.back() += text[i++];
    }
  }
  return lines;
}

int AlignLineX(const Settings& settings, int lineWidth, int boxWidth) {
  const int padding = settings.Int(SettingId::WmTextPadding);
  switch (settings.Int(SettingId::WmTextAlignment)) {
    case 0: return padding;
    case 1: return static_cast<int>(std::lround(static_cast<float>(boxWidth - lineWidth) / 2.0f));
    case 2: return boxWidth - lineWidth - padding;
    default: return 0;
  }
}

TextLayerPlan PlanTextLayer(const TextRenderer* renderer, const WatermarkFont& font, const Settings& settings,
                            const std::string& text) {
  const long long padding = settings.Int(SettingId::WmTextPadding);
  const bool vector = settings.Int(SettingId::WmTextAntialiasing) == 1;
  TextLayerPlan plan;
  if (renderer == nullptr) {
    plan.width = 10 + 2 * padding;
    plan.height = 10 + 2 * padding;
    return plan;
  }
  const std::vector<std::string> pieces = SplitWatermarkLines(text);
  for (const std::string& piece : pieces) {
    GObjectPtr<PangoLayout> layout = LayoutLine(*renderer, font, piece, false);
    const LineSize size = layout ? MeasureLine(layout.get()) : LineSize{};
    plan.lines.push_back(TextLinePlan{piece, 0, 0, size.width, size.height});
  }
  long long textWidth = 0, textHeight = 0, step = 0;
  if (pieces.size() > 1) {
    long long lineHeight = 10;
    textWidth = 10;
    for (const TextLinePlan& line : plan.lines) {
      textWidth = std::max<long long>(textWidth, line.width);
      lineHeight = std::max<long long>(lineHeight, line.height);
    }
    step = lineHeight + settings.Int(SettingId::WmFontLeading);
    textHeight = lineHeight + step * static_cast<long long>(pieces.size() - 1);
  } else {
    textWidth = plan.lines[0].width;
    textHeight = plan.lines[0].height;
  }
  plan.width = textWidth + 2 * padding;
  plan.height = textHeight + 2 * padding;

  if (pieces.size() == 1) {
    plan.lines[0].x = static_cast<int>(padding);
    plan.lines[0].y = static_cast<int>(padding);
    return plan;
  }
  long long y = padding;
  const int boxWidth = static_cast<int>(std::clamp<long long>(plan.width, INT32_MIN, INT32_MAX));
  for (TextLinePlan& line : plan.lines) {
    int width = line.width;
    if (vector) {
      GObjectPtr<PangoLayout> layout = LayoutLine(*renderer, font, line.text, true);
      if (layout) width = static_cast<int>(std::lround(LineVectorWidth(layout.get())));
    }
    line.x = AlignLineX(settings, width, boxWidth);
    line.y = static_cast<int>(std::clamp<long long>(y, INT32_MIN, INT32_MAX));
    y += step;
  }
  return plan;
}

namespace {

// A rectangle of pixels: its top-left pixel and its size.
struct PixelRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The part of the canvas a line can change: its cell and its glyphs' ink with
// a pixel of margin, within the canvas.
PixelRect LineRect(const TextLinePlan& line, PangoLayout* layout, int width, int height) {
  const InkBox ink = LineInk(layout);
  const long long x0 = std::min<long long>(line.x, static_cast<long long>(line.x) + ink.x - 1);
  const long long y0 = std::min<long long>(line.y, static_cast<long long>(line.y) + ink.y - 1);
  const long long x1 = std::max<long long>(static_cast<long long>(line.x) + line.width,
                                           static_cast<long long>(line.x) + ink.x + ink.width + 1);
  const long long y1 = std::max<long long>(static_cast<long long>(line.y) + line.height,
                                           static_cast<long long>(line.y) + ink.y + ink.height + 1);
  PixelRect rect;
  rect.x = static_cast<int>(std::clamp<long long>(x0, 0, width));
  rect.y = static_cast<int>(std::clamp<long long>(y0, 0, height));
  rect.w = static_cast<int>(std::clamp<long long>(x1, 0, width)) - rect.x;
  rect.h = static_cast<int>(std::clamp<long long>(y1, 0, height)) - rect.y;
  return rect;
}

}  // namespace

ImagePtr DrawTextLayer(const TextRenderer* renderer, const WatermarkFont& font, const Settings& settings,
                       const TextLayerPlan& plan) {
  if (plan.width <= 0 || plan.height <= 0 || plan.width * plan.height > kMaxLayerPixels) return nullptr;
  const int width = static_cast<int>(plan.width), height = static_cast<int>(plan.height);
  const bool vector = settings.Int(SettingId::WmTextAntialiasing) == 1;
  const int textOpacity = ClampOpacity(settings.Int(SettingId::WmTextOpacity));
  const int backOpacity = ClampOpacity(settings.Int(SettingId::WmBackOpacity));
  const std::uint32_t textColour = PackColourText(settings.Text(SettingId::WmFontColor));
  const std::uint32_t backColour = PackColourText(settings.Text(SettingId::WmBackColor));
  Layer result;
  if (!MakeLayer(result, width, height)) return nullptr;
  Layer canvas;
  MakeLayer(canvas, width, height);

  if (!vector) {
    // Plain text: every drawn pixel replaces the canvas pixel. The box is the
    // background colour; each line's cell becomes the text colour, its alpha
    // scaled by the glyph coverage, laid over the background colour.
    const Rgba text = ColourFromPacked(textColour, textOpacity);
    const Rgba back = ColourFromPacked(backColour, backOpacity);
    std::fill(canvas.pixels.begin(), canvas.pixels.end(), back);
    for (const TextLinePlan& line : plan.lines) {
      if (renderer == nullptr) break;
      GObjectPtr<PangoLayout> layout = LayoutLine(*renderer, font, line.text, false);
      if (!layout) continue;
      const PixelRect rect = LineRect(line, layout.get(), width, height);
      if (rect.w <= 0 || rect.h <= 0) continue;
      const Coverage coverage = TextCoverage(rect.w, rect.h, rect.x, rect.y, layout.get(), line.x, line.y, false);
      if (coverage.width != rect.w) continue;
      for (int y = rect.y; y < rect.y + rect.h; ++y) {
        const bool rowInCell = y >= line.y && y - line.y < line.height;
        for (int x = rect.x; x < rect.x + rect.w; ++x) {
          const std::uint8_t c = coverage.At(x - rect.x, y - rect.y);
          if (c == 0 && !(rowInCell && x >= line.x && x - line.x < line.width)) continue;
          Rgba pixel = back;
          BlendPixel(pixel, text, c);
          canvas.At(x, y) = pixel;
        }
      }
    }
    DrawLayer(result, canvas, 255);
  } else {
    // Antialiased text: glyph coverage becomes the alpha of the opaque text
    // colour on a transparent canvas; the background box and the text are
    // then laid onto the result, each with its own opacity.
    for (const TextLinePlan& line : plan.lines) {
      if (renderer == nullptr) break;
      GObjectPtr<PangoLayout> layout = LayoutLine(*renderer, font, line.text, true);
      if (!layout) continue;
      const PixelRect rect = LineRect(line, layout.get(), width, height);
      if (rect.w <= 0 || rect.h <= 0) continue;
      FillThroughCoverage(canvas, TextCoverage(rect.w, rect.h, rect.x, rect.y, layout.get(), line.x, line.y, true),
                          ColourFromPacked(textColour, 255), rect.x, rect.y);
    }
    Layer background;
    MakeLayer(background, width, height);
    std::fill(background.pixels.begin(), background.pixels.end(), ColourFromPacked(backColour, 255));
    DrawLayer(result, background, backOpacity);
    DrawLayer(result, canvas, textOpacity);
  }
  return LayerToBitmap(result);
}

ImagePtr MakeTextLayer(AppState& state, int width, int height) {
  if (!state.watermarkFont) return nullptr;
  RunState& run = state.run;
  run.imageWidth = width;
  run.imageHeight = height;
  if (run.automaticDepth) run.outputDepth = ResolveAutomaticDepth(run.conversion, run.loadedDepth);
  const std::string text = ExpandWatermarkText(state, state.settings.Text(SettingId::WmText));

  // The font's own font map, not Pango's per-thread default one.
  std::optional<TextRenderer> renderer = OpenTextRenderer(*state.watermarkFont);
  const TextRenderer* active = renderer ? &*renderer : nullptr;
  const TextLayerPlan plan = PlanTextLayer(active, *state.watermarkFont, state.settings, text);
  return DrawTextLayer(active, *state.watermarkFont, state.settings, plan);
}

}  // namespace kestrel
