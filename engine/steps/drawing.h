// Frames, watermarks and fonts draw with Cairo and Pango, which bring some
// thirty libraries. They live in a module (kestrel_draw.so) that is loaded the
// first time something is drawn, so a plain conversion starts without them.
#pragma once

#include <memory>
#include <string>

#include "engine/bitmap/image.h"
#include "platform/fonts.h"
#include "model/app_state.h"

namespace kestrel {

// The drawing functions, as the module hands them over.
struct DrawApi {
  void (*drawFrames)(ImagePtr* image, const Settings* settings, unsigned width, unsigned height);
  // picture: the picture watermark's picture as LoadPictureSandboxed gives it, or null.
  void (*drawWatermark)(ImagePtr* image, AppState* state, FIBITMAP* picture, unsigned width, unsigned height);
  void (*openFont)(std::shared_ptr<WatermarkFont>* font, const std::string* face, int sizePoints, FontStyle style);
};

inline constexpr const char* kDrawModuleName = "kestrel_draw.so";
inline constexpr const char* kDrawEntryName = "kestrel_draw_api";
using DrawEntry = const DrawApi* (*)();

// The drawing code itself, for the module's entry and for programs that link it.
const DrawApi* InProcessDrawApi();

// Makes the gateway use drawing code linked into this program instead of
// loading the module (the test programs do).
void UseDrawingInProcess(const DrawApi* api);

// The steps of the pipeline. Off settings return the image without loading
// anything. When the module cannot be loaded, or it draws no image, the file
// fails: no image, and the reason. No image in gives no image and no reason.
// The picture watermark's picture is read anew for every file, confined; one
// that cannot be read gives no watermark, the file goes on, and the reason
// comes back as a note of the result for the job to say.
ImageResult DrawFramesStep(ImagePtr image, const Settings& settings, unsigned width, unsigned height);
ImageResult DrawWatermarkStep(ImagePtr image, AppState& state, unsigned width, unsigned height);

// Why the drawing module cannot be used; empty when it can.
std::string DrawingUnavailableReason();

// The text watermark's font, or null when no font (or no module) can be had.
std::shared_ptr<WatermarkFont> OpenWatermarkFont(const std::string& face, int sizePoints, FontStyle style);
// The same for the face, size, style and effect that the settings name.
std::shared_ptr<WatermarkFont> OpenWatermarkFont(const Settings& settings);

}  // namespace kestrel
