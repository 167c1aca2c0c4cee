// Adjustment layers: what one does to the colour of everything beneath it.
// Each kind is read from its settings block into tables, one per colour
// channel, over the file's own samples (8-bit files have a table of 256
// entries, deeper ones of 65536), so that applying it is one lookup per
// sample. Threshold and gradient map look a pixel's luminance up instead,
// black and white mixes its channels by their hues, and selective colour,
// the channel mixer, vibrance and colour lookup change each pixel from all of
// its channels.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"

namespace kestrel {

class ColourAdjustment {
 public:
  // Changes `pixels` pixels of `colour` (fractions, the file's colour channels
  // to a pixel, in file order) in place.
  void Apply(float* colour, std::size_t pixels) const;

 private:
  friend std::optional<ColourAdjustment> ReadColourAdjustment(std::span<const std::uint8_t>, const PsdLayer&,
                                                              const PsdHeader&, const DescriptorColours&);
  // The adjustment on samples where the top is the most light.
  static std::optional<ColourAdjustment> ReadOnLight(std::span<const std::uint8_t> file, const PsdBlockRef& block,
                                                     int channels, std::size_t size, const DescriptorColours& colours);
  void ApplyThreshold(float* colour, std::size_t pixels) const;
  // Black and white's tint: the tables give each channel's value for a grey.
  void SetTint(const float* rgb, std::size_t size);
  void ApplyBlackAndWhite(float* colour, std::size_t pixels) const;
  void ApplyByLuminance(float* colour, std::size_t pixels) const;

  int channels_ = 0;
  std::vector<float> tables_[4];  // per channel; empty: the channel is left as it is
  int threshold_ = -1;            // a threshold's level (on the scale of `levels_`), or -1
  std::size_t levels_ = 0;        // the sample steps a threshold's luminance is rounded to
  // Black and white: the grey each hue gives, as fractions: red, yellow,
  // green, cyan, blue, magenta. Empty for the other kinds.
  std::vector<float> hueWeights_;
  // Gradient map: the tables give each channel's value for a pixel's luminance.
  bool byLuminance_ = false;
  // The kinds that mix an RGB pixel's channels: the whole change of a pixel.
  std::function<void(float*, std::size_t)> mix_;
};

// The adjustment a layer holds, or nothing when its kind is not drawn in the
// file's colour mode (the caller counts it as left out).
// `colours` converts the colours settings hold into the file's samples.
std::optional<ColourAdjustment> ReadColourAdjustment(std::span<const std::uint8_t> file, const PsdLayer& layer,
                                                     const PsdHeader& header, const DescriptorColours& colours);

}  // namespace kestrel
