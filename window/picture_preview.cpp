#include "window/picture_preview.h"

#include <QImage>

#include "engine/confine/picture_thumbnail.h"

namespace kestrel::window {

QPixmap PicturePreview(const std::string& path) {
  if (path.empty()) return {};
  const std::optional<Thumbnail> thumbnail = ReadPictureThumbnail(path, kPreviewSide);
  if (!thumbnail) return {};
  const QImage image(thumbnail->bgra.data(), thumbnail->width, thumbnail->height, thumbnail->width * 4,
                     QImage::Format_ARGB32);
  return QPixmap::fromImage(image.copy());  // the copy owns its pixels
}

}  // namespace kestrel::window
