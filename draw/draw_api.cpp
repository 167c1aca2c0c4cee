// The drawing functions behind the gateway of engine/steps/drawing.h.
#include "engine/steps/drawing.h"
#include "draw/frames.h"
#include "draw/watermark.h"

namespace kestrel {
namespace {

void DrawFrames(ImagePtr* image, const Settings* settings, unsigned width, unsigned height) {
  *image = DrawSolidFrames(std::move(*image), *settings, width, height);
}

void DrawWatermarkOver(ImagePtr* image, AppState* state, FIBITMAP* picture, unsigned width, unsigned height) {
  *image = DrawWatermark(std::move(*image), *state, picture, width, height);
}

void OpenFont(std::shared_ptr<WatermarkFont>* font, const std::string* face, int sizePoints, FontStyle style) {
  std::optional<WatermarkFont> created = CreateWatermarkFont(*face, sizePoints, style);
  if (created) *font = std::make_shared<WatermarkFont>(std::move(*created));
}

constexpr DrawApi kApi{DrawFrames, DrawWatermarkOver, OpenFont};

}  // namespace

const DrawApi* InProcessDrawApi() { return &kApi; }

}  // namespace kestrel
