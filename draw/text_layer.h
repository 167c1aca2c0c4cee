// The text watermark's layer.
#pragma once

#include <string>
#include <vector>

#include "engine/bitmap/image.h"
#include "platform/fonts.h"
#include "model/app_state.h"

namespace kestrel {

// The pieces of the text between "%eol%" markers (any letter case), empty
// pieces included; the whole text when it has no marker.
std::vector<std::string> SplitWatermarkLines(const std::string& text);

// x of a line inside the text box by WM-TEXT-ALIGNMENT and WM-TEXT-PADDING.
int AlignLineX(const Settings& settings, int lineWidth, int boxWidth);

struct TextLinePlan {
  std::string text;
  int x = 0, y = 0;           // where the line's top-left corner is drawn
  int width = 0, height = 0;  // its measured advance width and line height
};

// The text box and where each line goes in it.
struct TextLayerPlan {
  long long width = 0;
  long long height = 0;
  std::vector<TextLinePlan> lines;
};

// Measures the lines of the expanded text (box size, leading, padding,
// alignment). Without a renderer the box is 10 x 10 plus the padding and has
// no lines.
TextLayerPlan PlanTextLayer(const TextRenderer* renderer, const WatermarkFont& font, const Settings& settings,
                            const std::string& text);

// Draws the planned text layer by WM-TEXT-ANTIALIASING; none when the box has
// no area or is too large.
ImagePtr DrawTextLayer(const TextRenderer* renderer, const WatermarkFont& font, const Settings& settings,
                       const TextLayerPlan& plan);

// The text watermark of the current file as a 32-bit straight-alpha bitmap,
// or none. Stores width, height and the output depth of this file in the run
// state first, so the text's tokens show them.
ImagePtr MakeTextLayer(AppState& state, int width, int height);

}  // namespace kestrel
