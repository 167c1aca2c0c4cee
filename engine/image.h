// A FreeImage bitmap with one owner: replacing or dropping the pointer unloads
// the bitmap, so a step that makes a new image releases the old one by construction.
#pragma once

#include <FreeImage.h>

#include <memory>

namespace kestrel {

struct BitmapUnloader {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};

using ImagePtr = std::unique_ptr<FIBITMAP, BitmapUnloader>;

// Takes ownership of what a FreeImage call returned (null stays null).
inline ImagePtr Adopt(FIBITMAP* bitmap) { return ImagePtr(bitmap); }

}  // namespace kestrel
