#include "job/pipeline.h"

#include "engine/steps/drawing.h"
#include "output/naming.h"
#include "engine/steps/adjustments.h"
#include "engine/steps/depth.h"
#include "engine/steps/geometry.h"
#include "engine/decode/load.h"
#include "output/save.h"

#include <string>
#include <string_view>
#include <utility>

namespace kestrel {

Outcome ConvertCurrentFile(AppState& state) {
  RunState& run = state.run;
  const Settings& settings = state.settings;

  // What the steps tell of a file that goes on is said as they tell it.
  const auto say = [&state](const ImageResult& result) {
    for (const FileNote& note : result.notes) ReportFileProblem(state, note.path, note.what);
  };
  const int flags = LoadFlagsForInput(settings, "psd");
  ImageResult loaded = run.layerIndex >= 0 ? LoadInputLayer(run.currentInputPath, flags, static_cast<std::size_t>(run.layerIndex))
                                           : LoadInputImage(run.currentInputPath, flags);
  say(loaded);
  ImagePtr image = std::move(loaded.image);
  if (image && run.layerIndex >= 0 && run.layerCrop) {
    if (run.cropRight <= run.cropLeft || run.cropBottom <= run.cropTop) return Failed("the layer has no pixels to crop to");
    image = CropImage(std::move(image), run.cropLeft, run.cropTop, run.cropRight, run.cropBottom);
    if (!image) return Failed("the layer could not be cropped to its bounds");
  }
  const unsigned loadedWidth = image ? FreeImage_GetWidth(image.get()) : 0;
  const unsigned loadedHeight = image ? FreeImage_GetHeight(image.get()) : 0;
  run.loadedDepth = image ? static_cast<int>(FreeImage_GetBPP(image.get())) : 0;
  if (!image) return Failed(std::move(loaded.failure));
  if (loadedWidth == 0 || loadedHeight == 0) return Failed("the image is empty");

  // A step that cannot do its work hands on no image, and every later step
  // hands that on: the first step to lose the image says why.
  std::string failure;
  const auto lost = [&](std::string_view why) {
    if (!image && failure.empty()) failure = why;
  };
  const auto drawn = [&](ImageResult result) {
    say(result);
    image = std::move(result.image);
    lost(result.failure);
  };

  image = RotateImage(std::move(image), settings);
  lost("the image could not be rotated");
  const unsigned rotatedWidth = image ? FreeImage_GetWidth(image.get()) : 0;
  const unsigned rotatedHeight = image ? FreeImage_GetHeight(image.get()) : 0;
  image = ResizeImage(std::move(image), settings, rotatedWidth, rotatedHeight);
  lost("the image could not be resized");
  // Frames, watermarks and the name tokens see the size right after the resize.
  const unsigned width = image ? FreeImage_GetWidth(image.get()) : 0;
  const unsigned height = image ? FreeImage_GetHeight(image.get()) : 0;

  image = NormaliseGreyscale(std::move(image));
  image = ToneMapWideImage(std::move(image));
  lost("the image could not be brought to 8 bits per channel");
  FlipImage(image.get(), settings);
  image = AdjustColours(std::move(image), settings);
  lost("the colours could not be adjusted");
  image = ApplyGreyscale(std::move(image), settings);
  lost("the image could not be made greyscale");
  image = ApplyThreshold(std::move(image), settings);
  lost("the threshold could not be applied");
  image = ApplyDither(std::move(image), settings);
  lost("the image could not be dithered");
  drawn(DrawFramesStep(std::move(image), settings, width, height));
  drawn(DrawWatermarkStep(std::move(image), state, width, height));
  image = ConvertToOutputDepth(std::move(image), run, BackgroundColour(settings));
  if (!image) lost("the image could not be converted to " + std::to_string(run.outputDepth) + " bits per pixel");
  run.imageWidth = static_cast<int>(width);
  run.imageHeight = static_cast<int>(height);

  run.outputPath = BuildOutputPath(state);
  if (!image) return Failed(std::move(failure));
  if (Outcome refused = RefuseInputAsOutput(run.currentInputPath, run.outputPath); !refused) return refused;
  const BmpLayout layout{.v5Header = run.outputFormatCode == FIF_BMP && settings.Int(SettingId::BmpHeader) == 1,
                         .exactColourTable = WritesExactColourTable(settings, run.conversion, run.outputDepth)};
  if (layout.exactColourTable) return WriteBmpExactColourTable(image.get(), run.outputPath, run.saveFlags, layout);
  if (layout.v5Header) return WriteRelaidBmp(image.get(), run.outputPath, run.saveFlags, layout);
  return SaveImage(image.get(), run.outputFormatCode, run.outputPath, run.saveFlags);
}

}  // namespace kestrel
