#include "window/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestrel::window {
namespace {

struct PictureRecipe {
  std::string_view name;
  const char* themeName;  // freedesktop icon name
  QColor colour;          // of the drawn fallback
  const char* glyph;      // its symbol
};

const PictureRecipe kPictures[] = {
    {"New", "document-new", QColor(0x4a, 0x90, 0xd9), "\u25A1"},
    {"Add", "document-open", QColor(0x3c, 0xa5, 0x5c), "+"},
    {"OutFolder", "folder-open", QColor(0xe0, 0xa2, 0x2b), "\u25A4"},
    {"OutFormat", "document-properties", QColor(0x8e, 0x6c, 0xc4), "\u2630"},
    {"Preferences", "preferences-system", QColor(0x6d, 0x78, 0x86), "\u2699"},
    {"Convert", "media-playback-start", QColor(0x2e, 0x9d, 0x48), "\u25B6"},
    {"Help", "help-contents", QColor(0x35, 0x7a, 0xc8), "?"},
    {"Email", "mail-send", QColor(0xc0, 0x5a, 0x3a), "\u2709"},
    {"Web", "applications-internet", QColor(0x2a, 0x8c, 0xa8), "\u25CE"},
    {"Updates", "system-software-update", QColor(0xd0, 0x7a, 0x20), "\u21BB"},
};

QPixmap DrawnPicture(const PictureRecipe& recipe, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal margin = size * 0.08;
  const QRectF box(margin, margin, size - 2 * margin, size - 2 * margin);
  painter.setPen(QPen(recipe.colour.darker(140), size / 24.0 + 0.5));
  painter.setBrush(recipe.colour);
  painter.drawRoundedRect(box, size * 0.18, size * 0.18);
  QFont font = painter.font();
  font.setPixelSize(static_cast<int>(size * 0.6));
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(box, Qt::AlignCenter, QString::fromUtf8(recipe.glyph));
  return pixmap;
}

}  // namespace

QIcon Picture(std::string_view name) {
  for (const PictureRecipe& recipe : kPictures) {
    if (recipe.name != name) continue;
    QIcon fallback;
    for (int size : {16, 24, 32, 48, 64}) fallback.addPixmap(DrawnPicture(recipe, size));
    return QIcon::fromTheme(QString::fromLatin1(recipe.themeName), fallback);
  }
  return {};
}

}  // namespace kestrel::window
