#include "engine/steps/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/steps/depth.h"
#include "model/keywords.h"

namespace kestrel {

ImagePtr CropImage(ImagePtr image, int left, int top, int right, int bottom) {
  if (!image) return image;
  const int width = static_cast<int>(FreeImage_GetWidth(image.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(image.get()));
  left = std::clamp(left, 0, width);
  right = std::clamp(right, 0, width);
  top = std::clamp(top, 0, height);
  bottom = std::clamp(bottom, 0, height);
  if (right <= left || bottom <= top) return nullptr;
  return Adopt(FreeImage_Copy(image.get(), left, top, right, bottom));
}
namespace {

constexpr int kRotationSimple = 0;
constexpr int kRotationAdvanced = 1;
constexpr int kUnitPixels = 0;
constexpr int kUnitPercent = 1;
constexpr int kResizeLargeImages = 1;

// The library's filter for a RESIZE-ALGORITHM keyword number (BICUBIC outside the set).
FREE_IMAGE_FILTER ResizeFilter(int algorithm) {
  return static_cast<FREE_IMAGE_FILTER>(KeywordLibraryValue(KeywordSet::ResizeFilter, algorithm, FILTER_BICUBIC));
}

// The 24-bit conversion and the rotations take standard bitmaps only (and
// 16-bit-per-channel RGB, which the 24-bit conversion reads). Greyscale sample
// types and float colour are first brought to a standard bitmap the way the
// pipeline does it later anyway; otherwise they would fail or be read as
// plain pixels.
ImagePtr StandardiseForRotation(ImagePtr image) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image.get());
  if (type == FIT_BITMAP || type == FIT_RGB16 || type == FIT_RGBA16) return image;
  image = NormaliseGreyscale(std::move(image));
  return ToneMapWideImage(std::move(image));
}

// A size from the aspect ratio: halves away from zero, at least one pixel.
int ScaledDimension(int target, float ratio) {
  const float scaled = static_cast<float>(target) / ratio;
  return static_cast<int>(std::max(1L, std::lround(scaled)));
}

}  // namespace

ImagePtr RotateImage(ImagePtr image, const Settings& settings) {
  if (!image || !settings.IsOn(SettingId::DoImageRotation)) return image;
  const unsigned width = FreeImage_GetWidth(image.get());
  const unsigned height = FreeImage_GetHeight(image.get());
  const int angle = settings.Int(SettingId::Rotation);
  if (angle <= 0 || angle >= 360) return image;

  image = StandardiseForRotation(std::move(image));
  if (!image) return image;
  const unsigned depth = FreeImage_GetBPP(image.get());
  if (depth <= 16 || depth > 32) image = Adopt(FreeImage_ConvertTo24Bits(image.get()));
  if (!image) return image;

  switch (settings.Int(SettingId::RotationType)) {
    case kRotationSimple: {
      const std::uint32_t colour = PackColourText(settings.Text(SettingId::RotationBackColor));
      const RGBQUAD background{static_cast<BYTE>(colour >> 16), static_cast<BYTE>(colour >> 8),
                               static_cast<BYTE>(colour), 0};
      return Adopt(FreeImage_Rotate(image.get(), static_cast<double>(angle), &background));
    }
    case kRotationAdvanced:
      return Adopt(FreeImage_RotateEx(image.get(), static_cast<double>(angle), 0.0, 0.0, width / 2.0,
                                      height / 2.0, FALSE));
    default:
      return image;
  }
}

int TargetDimension(int value, int unit, unsigned current) {
  if (unit == kUnitPixels) return value;
  if (unit != kUnitPercent) return 0;
  // The default rounding mode sends a half to the even neighbour.
  const double scaled = std::nearbyint(value / 100.0 * current);
  return static_cast<int>(std::clamp(scaled, static_cast<double>(std::numeric_limits<int>::min()),
                                     static_cast<double>(std::numeric_limits<int>::max())));
}

ImagePtr ResizeImage(ImagePtr image, const Settings& settings, unsigned width, unsigned height) {
  if (!image || !settings.IsOn(SettingId::DoImageResize)) return image;
  if (width == 0 || height == 0) return image;
  const int targetWidth = TargetDimension(settings.Int(SettingId::Width), settings.Int(SettingId::WidthUnit), width);
  const int targetHeight =
      TargetDimension(settings.Int(SettingId::Height), settings.Int(SettingId::HeightUnit), height);
  if (targetWidth <= 0 || targetHeight <= 0) return image;
  const auto w = static_cast<long long>(width);
  const auto h = static_cast<long long>(height);
  if (w == targetWidth && h == targetHeight) return image;
  if (settings.Int(SettingId::ResizeType) == kResizeLargeImages && w < targetWidth && h < targetHeight) {
    return image;
  }

  int newWidth = targetWidth;
  int newHeight = targetHeight;
  if (settings.IsOn(SettingId::KeepAspectRatio)) {
    if (width >= height) {
      newHeight = ScaledDimension(targetWidth, static_cast<float>(width) / static_cast<float>(height));
    } else {
      newWidth = ScaledDimension(targetHeight, static_cast<float>(height) / static_cast<float>(width));
    }
  }
  const FREE_IMAGE_FILTER filter = ResizeFilter(settings.Int(SettingId::ResizeAlgorithm));
  return Adopt(FreeImage_Rescale(image.get(), newWidth, newHeight, filter));
}

void FlipImage(FIBITMAP* image, const Settings& settings) {
  if (image == nullptr) return;
  if (settings.IsOn(SettingId::FlipHorizontal)) FreeImage_FlipHorizontal(image);
  if (settings.IsOn(SettingId::FlipVertical)) FreeImage_FlipVertical(image);
}

}  // namespace kestrel
