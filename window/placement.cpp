#include "window/placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace kestrel::window {
namespace {

// Distance from a point to a rectangle, squared; 0 inside it.
double DistanceSquared(long long x, long long y, const QRect& r) {
  const auto dx = static_cast<double>(x < r.left() ? r.left() - x : (x > r.right() ? x - r.right() : 0));
  const auto dy = static_cast<double>(y < r.top() ? r.top() - y : (y > r.bottom() ? y - r.bottom() : 0));
  return dx * dx + dy * dy;
}

long long Clamp(long long value, long long low, long long high) { return std::max(low, std::min(value, high)); }

}  // namespace

QRect PlaceMainWindow(const SavedPlace& saved, bool firstStart, const QList<QRect>& screens, QSize minimum,
                      int maximumHeight, QMargins frame) {
  // The saved numbers may be anything: keep them in a range far beyond any
  // desktop, where the arithmetic below cannot overflow.
  constexpr long long kFar = 1LL << 28;
  const long long width0 = Clamp(saved.width, minimum.width(), kFar);
  const long long height0 = Clamp(saved.height, minimum.height(), maximumHeight);
  const long long centreX = Clamp(saved.x, -kFar, kFar) + width0 / 2;
  const long long centreY = Clamp(saved.y, -kFar, kFar) + height0 / 2;

  if (screens.isEmpty()) {
    const long long intMax = std::numeric_limits<int>::max() / 2;
    const long long width = std::min(width0, intMax), height = height0;
    return QRect(static_cast<int>(Clamp(saved.x, -intMax, intMax)), static_cast<int>(Clamp(saved.y, -intMax, intMax)),
                 static_cast<int>(width), static_cast<int>(height));
  }

  const QRect* nearest = &screens.front();
  if (!firstStart) {
    double best = std::numeric_limits<double>::infinity();
    for (const QRect& screen : screens) {
      const double distance = DistanceSquared(centreX, centreY, screen);
      if (distance < best) {
        best = distance;
        nearest = &screen;
      }
    }
  }
  // The frame is placed on the screen; the window lies within it.
  const QRect screen = nearest->adjusted(frame.left(), frame.top(), -frame.right(), -frame.bottom());
  const long long width = Clamp(width0, minimum.width(), std::max(minimum.width(), screen.width()));
  const long long height = Clamp(height0, minimum.height(), maximumHeight);
  long long x, y;
  if (firstStart) {
    x = screen.left() + (screen.width() - width) / 2;
    y = screen.top() + (screen.height() - height) / 2;
  } else {
    x = Clamp(saved.x, -kFar, kFar);
    y = Clamp(saved.y, -kFar, kFar);
    const bool inside = x >= screen.left() && y >= screen.top() && x + width - 1 <= screen.right() &&
                        y + height - 1 <= screen.bottom();
    if (!inside) {
      x = Clamp(x, screen.left(), std::max<long long>(screen.left(), screen.right() + 1 - width));
      y = Clamp(y, screen.top(), std::max<long long>(screen.top(), screen.bottom() + 1 - height));
    }
  }
  return QRect(static_cast<int>(x), static_cast<int>(y), static_cast<int>(width), static_cast<int>(height));
}

namespace {

// Places its window again, frame counted, at the first event after the window
// manager has framed it; then goes.
class FramePlacer : public QObject {
 public:
  FramePlacer(QWidget* window, bool firstStart, QSize minimum, int maximumHeight)
      : QObject(window), window_(window), firstStart_(firstStart), minimum_(minimum), maximumHeight_(maximumHeight) {
    window->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != window_ || (event->type() != QEvent::Move && event->type() != QEvent::Resize &&
                               event->type() != QEvent::Show && event->type() != QEvent::WindowActivate)) {
      return false;
    }
    if (window_->isMaximized() || window_->isFullScreen()) {
      deleteLater();
      return false;
    }
    const QRect inner = window_->geometry();
    const QRect outer = window_->frameGeometry();
    if (outer == inner) return false;  // not framed yet
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    const SavedPlace here{inner.x(), inner.y(), inner.width(), inner.height()};
    const QRect placed = PlaceMainWindow(here, firstStart_, DesktopScreens(), minimum_, maximumHeight_, frame);
    window_->removeEventFilter(this);
    deleteLater();
    if (placed != inner) window_->setGeometry(placed);
    return false;
  }

 private:
  QWidget* window_;
  bool firstStart_;
  QSize minimum_;
  int maximumHeight_;
};

}  // namespace

void KeepFrameOnScreen(QWidget* window, bool firstStart, QSize minimum, int maximumHeight) {
  new FramePlacer(window, firstStart, minimum, maximumHeight);
}

QList<QRect> DesktopScreens() {
  QList<QRect> screens;
  if (const QScreen* primary = QGuiApplication::primaryScreen()) screens << primary->availableGeometry();
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen != QGuiApplication::primaryScreen()) screens << screen->availableGeometry();
  }
  return screens;
}

}  // namespace kestrel::window
