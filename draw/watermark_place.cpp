#include "draw/watermark_place.h"

namespace kestrel {

WatermarkPlacement WatermarkPlacementFor(const Settings& settings, int kind) {
  WatermarkPlacement p;
  if (kind == 1) {
    p.boundary = settings.Int(SettingId::WmTextBoundary);
    p.position = settings.Int(SettingId::WmTextPosition);
    p.xOffset = settings.Int(SettingId::WmTextXOffset);
    p.yOffset = settings.Int(SettingId::WmTextYOffset);
    p.rotation = settings.Int(SettingId::WmTextRotation);
  } else {
    p.boundary = settings.Int(SettingId::WmImageBoundary);
    p.position = settings.Int(SettingId::WmImagePosition);
    p.xOffset = settings.Int(SettingId::WmImageXOffset);
    p.yOffset = settings.Int(SettingId::WmImageYOffset);
    p.rotation = settings.Int(SettingId::WmImageRotation);
  }
  return p;
}

WatermarkArea WatermarkAreaFor(const Settings& settings, const WatermarkPlacement& placement, int width, int height) {
  WatermarkArea area;
  area.width = width;
  area.height = height;
  if (settings.Int(SettingId::DoFrame) != 0 && placement.boundary == 1) {
    const long long left = settings.Int(SettingId::FrSolidLeft), right = settings.Int(SettingId::FrSolidRight);
    const long long top = settings.Int(SettingId::FrSolidTop), bottom = settings.Int(SettingId::FrSolidBottom);
    area.width = width - left - right;
    area.height = height - top - bottom;
    area.left = left;
    area.top = top;
  }
  area.xOffset = placement.xOffset;
  area.yOffset = placement.yOffset;
  return area;
}

ImagePtr RotateWatermark(ImagePtr bitmap, int angle) {
  if (!bitmap || angle <= 0 || angle >= 360) return bitmap;
  return Adopt(FreeImage_Rotate(bitmap.get(), static_cast<double>(angle), nullptr));
}

ImagePtr FitWatermark(ImagePtr bitmap, const WatermarkArea& area) {
  if (!bitmap) return bitmap;
  long long w = FreeImage_GetWidth(bitmap.get());
  long long h = FreeImage_GetHeight(bitmap.get());
  bool cut = false;
  if (w + area.xOffset > area.width) {
    w = area.width - area.xOffset;
    cut = true;
  }
  if (h + area.yOffset > area.height) {
    h = area.height - area.yOffset;
    cut = true;
  }
  if (!cut) return bitmap;
  if (w <= 0 || h <= 0) return nullptr;
  return Adopt(FreeImage_Copy(bitmap.get(), 0, 0, static_cast<int>(w), static_cast<int>(h)));
}

WatermarkPoint PlaceWatermark(const WatermarkArea& area, int position, long long w, long long h) {
  const long long left = area.xOffset, top = area.yOffset;
  const long long centreX = (area.width - w) / 2, centreY = (area.height - h) / 2;
  const long long right = area.width - w - area.xOffset, bottom = area.height - h - area.yOffset;
  WatermarkPoint point;
  switch (position) {
    case 0: point = {left, top}; break;
    case 1: point = {centreX, top}; break;
    case 2: point = {right, top}; break;
    case 3: point = {left, centreY}; break;
    case 4: point = {centreX, centreY}; break;
    case 5: point = {right, centreY}; break;
    case 6: point = {left, bottom}; break;
    case 7: point = {centreX, bottom}; break;
    case 8: point = {right, bottom}; break;
    default: point = {0, 0}; break;
  }
  point.x += area.left;
  point.y += area.top;
  return point;
}

}  // namespace kestrel
