// Turns the colour samples of a Photoshop file (8 or 16 bits each, as the
// file orders them) into 8-bit sRGB for display. 16-bit CMYK and Lab go
// through the transform at 16 bits, so that steps finer than an 8-bit sample
// (dark CMYK tones, where the sRGB curve is steep) are kept. A file's embedded ICC profile is
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
  // Whether 16-bit samples are converted as they are (Convert of 16-bit
  // samples) rather than narrowed to 8 bits first.
  bool TakesSixteenBits() const { return wide_; }
  // Converts `pixels` pixels of interleaved file samples in `from` into `to`.
  void Convert(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels) const;
  void Convert(const std::uint16_t* from, std::uint8_t* to, std::size_t pixels) const;

 private:
  int mode_;
  bool grey_;
  bool wide_;                  // 16-bit CMYK or Lab: the transform takes 16-bit samples
  void* transform_ = nullptr;  // a cmsHTRANSFORM, owned
};

}  // namespace kestrel
