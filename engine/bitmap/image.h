// A FreeImage bitmap with one owner: replacing or dropping the pointer unloads
// the bitmap, so a step that makes a new image releases the old one by construction.
#pragma once

#include <FreeImage.h>

#include <memory>
#include <string>
#include <vector>

namespace kestrel {

struct BitmapUnloader {
  // Memory that holds the pixels of a bitmap made over external bits (a
  // mapping handed over by the decoder); released right after the bitmap.
  std::shared_ptr<void> externalPixels;

  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};

using ImagePtr = std::unique_ptr<FIBITMAP, BitmapUnloader>;

// Takes ownership of what a FreeImage call returned (null stays null).
inline ImagePtr Adopt(FIBITMAP* bitmap) { return ImagePtr(bitmap); }

// Takes ownership of a bitmap whose pixels live in `pixels`, which outlives it.
inline ImagePtr AdoptOverExternalPixels(FIBITMAP* bitmap, std::shared_ptr<void> pixels) {
  return ImagePtr(bitmap, BitmapUnloader{std::move(pixels)});
}

// What the user is told of a file that did not stop its conversion (a
// picture rebuilt from its layers, a watermark picture left out), said as
// "kestrel: PATH: WHAT" by the job through the run's sink.
struct FileNote {
  std::string path;
  std::string what;
};

// An image, or why there is none in plain words (a failure always has its reason).
struct ImageResult {
  ImagePtr image;
  std::string failure;  // empty when there is an image
  std::vector<FileNote> notes;
};

// No image, for this reason.
inline ImageResult FailedImage(std::string why) { return ImageResult{nullptr, std::move(why), {}}; }

// Calls `visit` with each pixel of an 8-bit-a-channel 32-bit bitmap (its
// bytes in FI_RGBA_* order); other bitmaps are left alone.
template <typename Visit>
void ForEachBgraPixel(FIBITMAP* image, Visit visit) {
  if (image == nullptr || FreeImage_GetImageType(image) != FIT_BITMAP || FreeImage_GetBPP(image) != 32) return;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  for (unsigned y = 0; y < height; ++y) {
    BYTE* p = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x, p += 4) visit(p);
  }
}

}  // namespace kestrel
