#include "draw/frames.h"

#include <algorithm>
#include <array>

#include "draw/layer_coverage.h"

namespace kestrel {
namespace {

// A rectangle of pixels: its top-left pixel and its size.
struct PixelRect {
  int x, y, w, h;
};

constexpr std::int64_t kSliceBytes = std::int64_t{16} << 20;

}  // namespace

FrameBands FrameBandsFromSettings(const Settings& settings) {
  const auto colour = [&](SettingId id) { return ColourFromPacked(PackColourText(settings.Text(id)), 255); };
  FrameBands bands;
  bands.left = settings.Int(SettingId::FrSolidLeft);
  bands.right = settings.Int(SettingId::FrSolidRight);
  bands.top = settings.Int(SettingId::FrSolidTop);
  bands.bottom = settings.Int(SettingId::FrSolidBottom);
  bands.leftColour = colour(SettingId::FrSolidLeftColor);
  bands.rightColour = colour(SettingId::FrSolidRightColor);
  bands.topColour = colour(SettingId::FrSolidTopColor);
  bands.bottomColour = colour(SettingId::FrSolidBottomColor);
  bands.opacity = ClampOpacity(settings.Int(SettingId::FrSolidOpacity));
  return bands;
}

Layer DrawFrameWindow(const FrameBands& bands, int width, int height, int x0, int y0, int w, int h) {
  Layer frame;
  if (!MakeLayer(frame, w, h)) return frame;
  const double W = width, H = height;
  const double L = bands.left, R = bands.right, T = bands.top, B = bands.bottom;
  struct Shape {
    std::array<PointF, 4> corners;
    Rgba colour;
  };
  // Corner boxes first, then the bands over them: along each diagonal seam the
  // antialiased band edges fall on a box colour instead of on transparency.
  const std::array<Shape, 8> shapes{{
      {{{{0, 0}, {L, 0}, {L, T}, {0, T}}}, bands.topColour},
      {{{{W - R, 0}, {W, 0}, {W, T}, {W - R, T}}}, bands.rightColour},
      {{{{W - R, H - B}, {W, H - B}, {W, H}, {W - R, H}}}, bands.bottomColour},
      {{{{0, H - B}, {L, H - B}, {L, H}, {0, H}}}, bands.leftColour},
      {{{{0, 0}, {W, 0}, {W - R, T}, {L, T}}}, bands.topColour},
      {{{{W, 0}, {W, H}, {W - R, H - B}, {W - R, T}}}, bands.rightColour},
      {{{{W, H}, {0, H}, {L, H - B}, {W - R, H - B}}}, bands.bottomColour},
      {{{{0, H}, {0, 0}, {L, T}, {L, H - B}}}, bands.leftColour},
  }};
  for (const Shape& shape : shapes) {
    const Coverage coverage = PolygonCoverage(w, h, x0, y0, shape.corners);
    FillThroughCoverage(frame, coverage, shape.colour);
  }
  // The frame opacity: drawn onto a transparent layer, each alpha a becomes
  // opacity * a / 255 and the colour is kept.
  Layer result;
  MakeLayer(result, w, h);
  DrawLayer(result, frame, bands.opacity);
  return result;
}

ImagePtr DrawSolidFrames(ImagePtr image, const Settings& settings, unsigned width, unsigned height) {
  const int mode = settings.Int(SettingId::DoFrame);
  if (!image || mode == 0) return image;
  if (FreeImage_GetBPP(image.get()) != 24) image = Adopt(FreeImage_ConvertTo24Bits(image.get()));
  if (!image || mode != 1) return image;
  // The frame is blended over an image of its own size; any other size
  // cannot be composited and the step hands on no image.
  if (FreeImage_GetWidth(image.get()) != width || FreeImage_GetHeight(image.get()) != height) return nullptr;

  const FrameBands bands = FrameBandsFromSettings(settings);
  if (bands.opacity <= 0) return image;  // nothing would show
  const int W = static_cast<int>(width), H = static_cast<int>(height);
  // Every shape lies within the four edge strips, so only they are drawn.
  // The strips are cut so that they do not overlap.
  const int t = std::clamp(bands.top, 0, H);
  const int b = std::clamp(bands.bottom, 0, H - t);
  const int l = std::clamp(bands.left, 0, W);
  const int r = std::clamp(bands.right, 0, W - l);
  const std::array<PixelRect, 4> strips{{
      {0, 0, W, t},
      {0, H - b, W, b},
      {0, t, l, H - t - b},
      {W - r, t, r, H - t - b},
  }};
  for (const PixelRect& strip : strips) {
    if (strip.w <= 0 || strip.h <= 0) continue;
    // Wide bands are drawn a slice of rows at a time to keep the layers small.
    const int rows = std::max(1, std::min(strip.h, static_cast<int>(kSliceBytes / 4 / strip.w)));
    for (int y = strip.y; y < strip.y + strip.h; y += rows) {
      const int h = std::min(rows, strip.y + strip.h - y);
      const Layer layer = DrawFrameWindow(bands, W, H, strip.x, y, strip.w, h);
      // A layer that cannot be made leaves that part of the frame out.
      ImagePtr bitmap = LayerToBitmap(layer);
      if (bitmap) CompositeOver(image.get(), bitmap.get(), strip.x, y);
    }
  }
  return image;
}

}  // namespace kestrel
