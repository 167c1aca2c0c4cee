// Colours as layer settings hold them (fill layers, gradient stops, colour
// overlays): RGB, HSB, grey, Lab or CMYK descriptors, whatever the file's
// mode. Each is turned into samples of the file's colour mode, as fractions
// in the channel order the file stores: grey and CMYK as stored (1 is no
// ink), Lab with a and b centred. A colour of another space goes through
// LittleCMS, into the file's own profile where it has one of its mode.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "engine/psd/descriptor.h"

namespace kestrel {

class DescriptorColours {
 public:
  // For files of `colourMode` (grey, RGB, CMYK or Lab) at `depth` bits;
  // `iccProfile` is the file's embedded profile, or empty.
  DescriptorColours(int colourMode, int depth, std::span<const std::uint8_t> iccProfile = {});
  ~DescriptorColours();
  DescriptorColours(const DescriptorColours&) = delete;
  DescriptorColours& operator=(const DescriptorColours&) = delete;

  int Mode() const { return mode_; }
  int Depth() const { return depth_; }
  // Colour channels of the file's mode: 1, 3 or 4 (0 for modes without colours).
  int Channels() const { return channels_; }

  // `colour` as the file's samples in out[0..Channels()). False when the
  // descriptor holds no complete colour or the mode has no colours.
  bool Read(const DescriptorValue& colour, float out[4]) const;
  // Black or white in the file's samples.
  void Neutral(bool white, float out[4]) const;

 private:
  enum class Space { Rgb, Lab, Cmyk, Grey };
  // A colour of `space` (RGB and grey 0..1 with grey as light, Lab as L, a, b,
  // CMYK as ink percentages) converted into the file's samples.
  void Convert(Space space, const double value[4], float out[4]) const;
  void Store(Space space, const double value[4], float out[4]) const;

  int mode_;
  int depth_;
  int channels_;
  struct ProfileCloser {
    void operator()(void* profile) const;
  };
  std::unique_ptr<void, ProfileCloser> profile_;  // the file's profile, when it is of the file's mode
};

}  // namespace kestrel
