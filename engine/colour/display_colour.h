// Turns the colour samples of a Photoshop file (8 bits each, as the file
// orders them) into sRGB for display. A file's embedded ICC profile is
// honoured through LittleCMS with relative colorimetric intent and black point
// compensation; Lab is D50-relative, as Photoshop's Lab is. Without a profile,
// RGB and grey pass unchanged and CMYK is multiplied out ink by ink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/psd/document.h"

namespace kestrel {

class DisplayColour {
 public:
  // For the document's colour mode (grey, RGB, CMYK or Lab) and profile.
  explicit DisplayColour(const PsdDocument& document);
  ~DisplayColour();
  DisplayColour(const DisplayColour&) = delete;
  DisplayColour& operator=(const DisplayColour&) = delete;

  // Channels per pixel written by Convert: 1 for grey, else 3 (R, G, B).
  int OutputChannels() const { return grey_ ? 1 : 3; }
  // Whether Convert copies the samples unchanged (RGB and grey without a
  // profile, or with one that changes nothing).
  bool PassesThrough() const { return transform_ == nullptr && (mode_ == kPsdModeRgb || grey_); }
  // Converts `pixels` pixels of interleaved file samples in `from` into `to`.
  void Convert(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels) const;

 private:
  int mode_;
  bool grey_;
  void* transform_ = nullptr;  // a cmsHTRANSFORM, owned
};

}  // namespace kestrel
