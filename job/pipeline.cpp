#include "job/pipeline.h"

#include "engine/drawing.h"
#include "output/naming.h"
#include "engine/colour.h"
#include "engine/depth.h"
#include "engine/geometry.h"
#include "engine/load.h"
#include "output/save.h"

namespace kestrel {

bool ConvertCurrentFile(AppState& state) {
  RunState& run = state.run;
  const Settings& settings = state.settings;

  ImagePtr image = LoadInputImage(run.currentInputPath, LoadFlagsForInput(settings, "psd"));
  const unsigned loadedWidth = image ? FreeImage_GetWidth(image.get()) : 0;
  const unsigned loadedHeight = image ? FreeImage_GetHeight(image.get()) : 0;
  run.loadedDepth = image ? static_cast<int>(FreeImage_GetBPP(image.get())) : 0;
  if (loadedWidth == 0 || loadedHeight == 0) return false;

  image = RotateImage(std::move(image), settings);
  const unsigned rotatedWidth = image ? FreeImage_GetWidth(image.get()) : 0;
  const unsigned rotatedHeight = image ? FreeImage_GetHeight(image.get()) : 0;
  image = ResizeImage(std::move(image), settings, rotatedWidth, rotatedHeight);
  // Frames, watermarks and the name tokens see the size right after the resize.
  const unsigned width = image ? FreeImage_GetWidth(image.get()) : 0;
  const unsigned height = image ? FreeImage_GetHeight(image.get()) : 0;

  image = NormaliseGreyscale(std::move(image));
  image = ToneMapWideImage(std::move(image));
  FlipImage(image.get(), settings);
  image = AdjustColours(std::move(image), settings);
  image = ApplyGreyscale(std::move(image), settings);
  image = ApplyThreshold(std::move(image), settings);
  image = ApplyDither(std::move(image), settings);
  image = DrawFramesStep(std::move(image), settings, width, height);
  image = DrawWatermarkStep(std::move(image), state, width, height);
  image = ConvertToOutputDepth(std::move(image), run);
  run.imageWidth = static_cast<int>(width);
  run.imageHeight = static_cast<int>(height);

  run.outputPath = BuildOutputPath(state);
  if (!image) return false;
  if (WritesExactColourTable(settings, run.conversion, run.outputDepth)) {
    return WriteBmpExactColourTable(image.get(), run.outputPath, run.saveFlags);
  }
  return SaveImage(image.get(), run.outputFormatCode, run.outputPath, run.saveFlags);
}

}  // namespace kestrel
