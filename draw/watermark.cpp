#include "draw/watermark.h"

#include "draw/image_layer.h"
#include "draw/layer.h"
#include "draw/text_layer.h"
#include "draw/watermark_place.h"

namespace kestrel {

ImagePtr DrawWatermark(ImagePtr image, AppState& state, FIBITMAP* picture, unsigned width, unsigned height) {
  const int kind = state.settings.Int(SettingId::DoWatermark);
  if (!image || kind == 0) return image;
  if (FreeImage_GetBPP(image.get()) != 24) image = Adopt(FreeImage_ConvertTo24Bits(image.get()));
  if (!image) return image;

  const int W = static_cast<int>(width), H = static_cast<int>(height);
  ImagePtr mark = kind == 1 ? MakeTextLayer(state, W, H) : kind == 2 ? MakeImageLayer(picture, state.settings) : nullptr;
  if (!mark) return image;
  const WatermarkPlacement placement = WatermarkPlacementFor(state.settings, kind);
  const WatermarkArea area = WatermarkAreaFor(state.settings, placement, W, H);
  mark = FitWatermark(RotateWatermark(std::move(mark), placement.rotation), area);
  if (!mark) return image;
  const long long w = FreeImage_GetWidth(mark.get()), h = FreeImage_GetHeight(mark.get());
  const WatermarkPoint at = PlaceWatermark(area, placement.position, w, h);

  // The watermark is blended over an image of its own size; any other size
  // cannot be composited and the step hands on no image.
  if (FreeImage_GetWidth(image.get()) != width || FreeImage_GetHeight(image.get()) != height) return nullptr;
  // A watermark that does not lie wholly inside the image is not drawn.
  if (at.x < 0 || at.y < 0 || at.x + w > W || at.y + h > H) return image;
  CompositeOver(image.get(), mark.get(), static_cast<int>(at.x), static_cast<int>(at.y));
  return image;
}

}  // namespace kestrel
