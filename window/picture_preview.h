// The small preview of a watermark picture in the preferences dialog.
#pragma once

#include <QPixmap>
#include <string>

namespace kestrel::window {

inline constexpr int kPreviewSide = 48;

// The picture within kPreviewSide pixels, decoded in a confined child; an
// empty pixmap when there is none.
QPixmap PicturePreview(const std::string& path);

}  // namespace kestrel::window
