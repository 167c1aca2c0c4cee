#include "engine/steps/depth.h"

#include "engine/colour/display_samples.h"

namespace kestrel {

ImagePtr NormaliseGreyscale(ImagePtr image) {
  if (!image) return image;
  // 16-bit and float grey are scaled or shown as displays show them, never stretched.
  const FREE_IMAGE_TYPE sampleType = FreeImage_GetImageType(image.get());
  if (sampleType == FIT_UINT16 || sampleType == FIT_FLOAT) return NarrowToDisplay(std::move(image));
  const FREE_IMAGE_COLOR_TYPE type = FreeImage_GetColorType(image.get());
  if (type != FIC_MINISWHITE && type != FIC_MINISBLACK) return image;
  return Adopt(FreeImage_ConvertToStandardType(image.get(), TRUE));
}

ImagePtr ToneMapWideImage(ImagePtr image) {
  if (!image || FreeImage_GetBPP(image.get()) <= 32) return image;
  // 16-bit integer samples are an ordinary picture in finer steps; float ones linear light.
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image.get());
  if (type == FIT_RGB16 || type == FIT_RGBA16 || type == FIT_RGBF || type == FIT_RGBAF) {
    return NarrowToDisplay(std::move(image));
  }
  // Gamma 1.0 keeps the tones linear; the library's own default would be 2.2.
  return Adopt(FreeImage_TmoDrago03(image.get(), 1.0, 0.0));
}

RGBQUAD BackgroundColour(const Settings& settings) {
  const std::uint32_t colour = PackColourText(settings.Text(SettingId::Background));
  return RGBQUAD{static_cast<BYTE>(colour >> 16), static_cast<BYTE>(colour >> 8), static_cast<BYTE>(colour), 0};
}

void PutOnBackground(FIBITMAP* image, RGBQUAD background) {
  if (image == nullptr || FreeImage_GetImageType(image) != FIT_BITMAP || FreeImage_GetBPP(image) != 32) return;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  const auto over = [](unsigned c, unsigned a, unsigned b) {
    return static_cast<BYTE>((c * a + b * (255 - a) + 127) / 255);
  };
  for (unsigned y = 0; y < height; ++y) {
    BYTE* p = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x, p += 4) {
      const unsigned a = p[FI_RGBA_ALPHA];
      if (a == 255) continue;
      p[FI_RGBA_RED] = over(p[FI_RGBA_RED], a, background.rgbRed);
      p[FI_RGBA_GREEN] = over(p[FI_RGBA_GREEN], a, background.rgbGreen);
      p[FI_RGBA_BLUE] = over(p[FI_RGBA_BLUE], a, background.rgbBlue);
      p[FI_RGBA_ALPHA] = 255;
    }
  }
}

void ColourClearPixels(FIBITMAP* image, RGBQUAD background) {
  ForEachBgraPixel(image, [&background](BYTE* p) {
    if (p[FI_RGBA_ALPHA] != 0) return;
    p[FI_RGBA_RED] = background.rgbRed;
    p[FI_RGBA_GREEN] = background.rgbGreen;
    p[FI_RGBA_BLUE] = background.rgbBlue;
  });
}

int ResolveAutomaticDepth(std::string_view extension, int loadedDepth) {
  const auto depths = AllowedDepths(extension);
  for (int depth : depths) {
    if (depth >= loadedDepth) return depth;
  }
  return depths.empty() ? 0 : depths.back();
}

ImagePtr ConvertToOutputDepth(ImagePtr image, RunState& run, RGBQUAD background) {
  if (!image) return image;
  if (run.automaticDepth) run.outputDepth = ResolveAutomaticDepth(run.conversion, run.loadedDepth);
  const int target = run.outputDepth;
  const unsigned depth = FreeImage_GetBPP(image.get());
  // Every other depth drops the alpha: what shows through is the background.
  if (target != 32) PutOnBackground(image.get(), background);
  if (static_cast<int>(depth) == target) {
    if (target == 32) ColourClearPixels(image.get(), background);
    return image;
  }

  const OutputFormat* format = FindOutputFormat(run.conversion);
  switch (target) {
    case 96: return Adopt(FreeImage_ConvertToRGBF(image.get()));
    case 48: return Adopt(FreeImage_ConvertToRGB16(image.get()));
    case 32: {
      image = Adopt(FreeImage_ConvertTo32Bits(image.get()));
      ColourClearPixels(image.get(), background);
      return image;
    }
    case 24: return Adopt(FreeImage_ConvertTo24Bits(image.get()));
    case 16: {
      if (depth > 32) image = Adopt(FreeImage_ConvertTo24Bits(image.get()));
      if (!image) return image;
      if (format && format->sixteenBitsAs555) return Adopt(FreeImage_ConvertTo16Bits555(image.get()));
      return Adopt(FreeImage_ConvertTo16Bits565(image.get()));
    }
    case 8: {
      if (format && format->eightBitsByConversion) return Adopt(FreeImage_ConvertTo8Bits(image.get()));
      if (depth != 24) image = Adopt(FreeImage_ConvertTo24Bits(image.get()));
      if (!image) return image;
      return Adopt(FreeImage_ColorQuantizeEx(image.get(), FIQ_WUQUANT, 256, 0, nullptr));
    }
    case 4: return Adopt(FreeImage_ConvertTo4Bits(image.get()));
    case 1: return Adopt(FreeImage_Dither(image.get(), FID_FS));
    default: return image;
  }
}

}  // namespace kestrel
