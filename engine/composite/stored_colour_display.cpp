#include "engine/composite/stored_colour_display.h"

#include <algorithm>

#include "engine/colour/display_samples.h"
#include "engine/psd/document.h"

namespace kestrel {

bool CompositesThroughDisplayColour(const PsdHeader& header) {
  return (header.colourMode == kPsdModeCmyk || header.colourMode == kPsdModeLab) &&
         (header.depth == 8 || header.depth == 16);
}

int StoredColourChannels(const PsdHeader& header) {
  return header.colourMode == kPsdModeCmyk ? 4 : header.colourMode == kPsdModeLab ? 3 : 0;
}

bool ShowsThroughDisplayColour(const PsdDocument& document) {
  const PsdHeader& header = document.header;
  if (CompositesThroughDisplayColour(header)) return true;
  const bool greyOrRgb = header.colourMode == kPsdModeGreyscale || header.colourMode == kPsdModeRgb;
  if (!greyOrRgb || (header.depth != 8 && header.depth != 16) || document.resources.iccProfile.empty()) return false;
  return !DisplayColour(document).PassesThrough();
}

namespace {

int DisplayedChannels(const PsdHeader& header) {
  if (header.colourMode == kPsdModeGreyscale) return 1;
  return header.colourMode == kPsdModeCmyk ? 4 : 3;
}

}  // namespace

BlendSpace BlendSpaceOf(int colourMode, int depth) {
  if (colourMode != kPsdModeLab) return BlendSpace::Light;
  return depth == 16 ? BlendSpace::Lab16 : BlendSpace::Lab8;
}

StoredColourDisplay::StoredColourDisplay(const PsdDocument& document)
    : header_(document.header), display_(document), channels_(DisplayedChannels(header_)) {
  const PsdHeader& header = header_;
  // Blank paper: no ink in CMYK; white in Lab (L full, a and b at their centre).
  const float centre = header.depth == 16 ? 32768.0f / 65535.0f : 128.0f / 255.0f;
  paper_[0] = 1;
  paper_[1] = paper_[2] = header.colourMode == kPsdModeLab ? centre : 1.0f;
  paper_[3] = 1;
}

void StoredColourDisplay::Convert(const float* colour, const float* alpha, BYTE* line, std::size_t pixels,
                                  bool withAlpha) {
  const int step = withAlpha ? 4 : 3;
  constexpr std::size_t kChunk = 256;
  for (std::size_t start = 0; start < pixels; start += kChunk) {
    const std::size_t count = std::min(kChunk, pixels - start);
    for (std::size_t x = 0; x < count; ++x) {
      const float a = std::clamp(alpha[start + x], 0.0f, 1.0f);
      for (int k = 0; k < channels_; ++k) {
        const float v = std::clamp(colour[(start + x) * channels_ + k] * a + paper_[k] * (1 - a), 0.0f, 1.0f);
        // The same sample the merged-image decoder makes of a stored one.
        const auto wide = static_cast<std::uint16_t>(v * 65535 + 0.5f);
        wideSamples_[x * channels_ + k] = wide;
        samples_[x * channels_ + k] =
            header_.depth == 16 ? SixteenBitsToDisplay(wide) : static_cast<std::uint8_t>(v * 255 + 0.5f);
      }
    }
    if (header_.depth == 16 && display_.TakesSixteenBits()) display_.Convert(wideSamples_, shown_, count);
    else display_.Convert(samples_, shown_, count);
    const int n = OutputChannels();
    if (!withAlpha && n == 1) {
      std::copy_n(shown_, count, line + start);
      continue;
    }
    for (std::size_t x = 0; x < count; ++x) {
      BYTE* p = line + (start + x) * step;
      const std::uint8_t* rgb = shown_ + n * x;
      const std::uint8_t r = rgb[0], g = rgb[n == 1 ? 0 : 1], b = rgb[n == 1 ? 0 : 2];
      if (!withAlpha) {
        p[FI_RGBA_RED] = r, p[FI_RGBA_GREEN] = g, p[FI_RGBA_BLUE] = b;
        continue;
      }
      const auto a = static_cast<std::uint8_t>(std::clamp(alpha[start + x], 0.0f, 1.0f) * 255 + 0.5f);
      p[FI_RGBA_RED] = UnmatteFromWhite(r, a);
      p[FI_RGBA_GREEN] = UnmatteFromWhite(g, a);
      p[FI_RGBA_BLUE] = UnmatteFromWhite(b, a);
      p[FI_RGBA_ALPHA] = a;
    }
  }
}

}  // namespace kestrel
