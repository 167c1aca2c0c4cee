// Where the main window opens: centred on the first start, otherwise at its
// saved place, pulled back onto a screen when that place lies off every one.
#pragma once

#include <QList>
#include <QMargins>
#include <QRect>

class QWidget;

namespace kestrel::window {

struct SavedPlace {
  long long x = 0, y = 0, width = 0, height = 0;  // as read from the preferences, any value
};

// The window's frame-less rectangle. Width and height are brought within
// minimum..the nearest screen (height also within maximumHeight); on the first
// start the window is centred on the first screen; otherwise a window not
// wholly on one screen is moved onto the screen nearest to it. `frame`: what
// the window manager's frame adds around it (title bar, borders), which is
// kept on the screen too. No screens: the saved place with the size bounds only.
QRect PlaceMainWindow(const SavedPlace& saved, bool firstStart, const QList<QRect>& screens, QSize minimum,
                      int maximumHeight, QMargins frame = {});

// The frame a window manager puts around a window is known only once the
// window is shown: when it is, the window is placed again with its frame
// counted, so that no part of the frame is left off the screen.
void KeepFrameOnScreen(QWidget* window, bool firstStart, QSize minimum, int maximumHeight);

// The available rectangles of the desktop's screens, the primary one first.
QList<QRect> DesktopScreens();

}  // namespace kestrel::window
