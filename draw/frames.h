// Solid frames along the image edges.
#pragma once

#include "draw/layer.h"
#include "engine/bitmap/image.h"
#include "model/settings.h"

namespace kestrel {

// Band widths, colours and the opacity of the whole frame.
struct FrameBands {
  int left = 0, right = 0, top = 0, bottom = 0;
  Rgba leftColour, rightColour, topColour, bottomColour;
  int opacity = 255;
};

FrameBands FrameBandsFromSettings(const Settings& settings);

// The frame layer of a width x height image (straight alpha, after the frame
// opacity), for the window of w x h pixels whose top-left pixel is (x0, y0).
// Any window gives the same pixels as the full-size layer at those places.
Layer DrawFrameWindow(const FrameBands& bands, int width, int height, int x0, int y0, int w, int h);

// Paints the frame over the outer margin of the image; with frames switched
// on the image always leaves as 24 bits per pixel. Only the band pixels are
// drawn and blended. width and height are the image size right after the
// resize step (the image's own size).
ImagePtr DrawSolidFrames(ImagePtr image, const Settings& settings, unsigned width, unsigned height);

}  // namespace kestrel
