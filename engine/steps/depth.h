// The output colour depth.
#pragma once

#include <string_view>

#include "engine/bitmap/image.h"
#include "model/app_state.h"

namespace kestrel {

// Greyscale images of any sample type become standard 8-bit greyscale; 16-bit
// grey by scaling, float grey through the sRGB transfer curve.
ImagePtr NormaliseGreyscale(ImagePtr image);
// Images of more than 32 bits per pixel become 8 bits a channel: 16-bit
// samples by scaling, float samples through the sRGB transfer curve; any other
// wide type is tone-mapped.
ImagePtr ToneMapWideImage(ImagePtr image);

// The colour a picture is put on where its transparency cannot go: the
// BACKGROUND setting (alpha 0).
RGBQUAD BackgroundColour(const Settings& settings);
// A 32-bit picture put on `background` in straight colour: each colour
// becomes (c * a + background * (255 - a)) / 255, rounded, and every pixel
// opaque; it stays 32-bit, so the steps after it see the depth they saw
// before. Other bitmaps, and opaque pixels, are left as they are.
void PutOnBackground(FIBITMAP* image, RGBQUAD background);
// Every fully transparent pixel of a 32-bit picture takes the background's
// colour and keeps alpha 0, so that a reader that ignores the alpha shows the
// picture on the background rather than on whatever colour lay there.
void ColourClearPixels(FIBITMAP* image, RGBQUAD background);

// The first allowed depth of the output format that is at least the loaded
// depth, else the largest one ("bmp": 48 -> 32, 12 -> 16).
int ResolveAutomaticDepth(std::string_view extension, int loadedDepth);

// Gives the image the output depth; with an automatic depth it resolves the
// depth first and stores it in the run state for the save and the file name.
// The format's row says how 16 and 8 bits are made. A depth without alpha
// puts the picture on the background first; 32 bits give the fully
// transparent pixels its colour.
ImagePtr ConvertToOutputDepth(ImagePtr image, RunState& run, RGBQUAD background = {255, 255, 255, 0});

}  // namespace kestrel
