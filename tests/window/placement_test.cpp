// Where the main window opens, for saved places on and off the screens.
#include <gtest/gtest.h>

#include <climits>

#include "window/placement.h"

namespace kestrel::window {
namespace {

struct PlaceCase {
  const char* name;
  SavedPlace saved;
  bool firstStart;
  QRect expected;
};

TEST(Placement, CentredFirstPulledBackWhenOffAndSizesBounded) {
  const QList<QRect> oneScreen{QRect(0, 0, 1280, 800)};
  const QSize minimum(510, 260);
  const PlaceCase cases[] = {
      {"first start: centred", {100, 100, 510, 260}, true, QRect(385, 270, 510, 260)},
      {"on the screen: kept", {40, 50, 700, 260}, false, QRect(40, 50, 700, 260)},
      {"far right and below", {3000, 2000, 510, 260}, false, QRect(770, 540, 510, 260)},
      {"left and above", {-900, -50, 600, 260}, false, QRect(0, 0, 600, 260)},
      {"corner showing", {1230, 792, 510, 260}, false, QRect(770, 540, 510, 260)},
      {"absurd width", {0, 0, 2000000000, 260}, false, QRect(0, 0, 1280, 260)},
      {"absurd everything", {INT_MAX, INT_MIN, INT_MAX, INT_MAX}, false, QRect(0, 0, 1280, 260)},
      {"too small", {10, 10, 5, 5}, false, QRect(10, 10, 510, 260)},
  };
  for (const PlaceCase& c : cases) {
    EXPECT_EQ(PlaceMainWindow(c.saved, c.firstStart, oneScreen, minimum, 260), c.expected) << c.name;
  }

  // Two screens side by side: the window goes onto the one nearest to it.
  const QList<QRect> twoScreens{QRect(0, 0, 1280, 800), QRect(1280, 0, 1920, 1080)};
  EXPECT_EQ(PlaceMainWindow({2900, 1500, 510, 260}, false, twoScreens, minimum, 260), QRect(2690, 820, 510, 260));
  EXPECT_EQ(PlaceMainWindow({1500, 100, 510, 260}, false, twoScreens, minimum, 260), QRect(1500, 100, 510, 260));
  EXPECT_EQ(PlaceMainWindow({-3000, 100, 510, 260}, false, twoScreens, minimum, 260), QRect(0, 100, 510, 260));
  EXPECT_EQ(PlaceMainWindow({0, 0, 510, 260}, true, twoScreens, minimum, 260), QRect(385, 270, 510, 260));
}

// A window manager's frame (here a 20-pixel title bar, borders of 1 at the
// sides and 5 below) stays on the screen with the window: the window is
// pulled back by its frame, and one whose frame fits is left where it is.
TEST(Placement, TheFrameIsKeptOnTheScreenToo) {
  const QList<QRect> oneScreen{QRect(0, 0, 1280, 800)};
  const QSize minimum(510, 260);
  const QMargins frame(1, 20, 1, 5);
  const PlaceCase cases[] = {
      {"far right and below", {3000, 2000, 510, 260}, false, QRect(769, 535, 510, 260)},
      {"left and above", {-900, -50, 600, 260}, false, QRect(1, 20, 600, 260)},
      {"title bar above the top", {300, 10, 510, 260}, false, QRect(300, 20, 510, 260)},
      {"frame within the screen: kept", {300, 535, 510, 260}, false, QRect(300, 535, 510, 260)},
      {"first start: the frame centred", {0, 0, 510, 260}, true, QRect(385, 277, 510, 260)},
      {"as wide as the screen: the frame fits", {0, 100, 5000, 260}, false, QRect(1, 100, 1278, 260)},
  };
  for (const PlaceCase& c : cases) {
    const QRect placed = PlaceMainWindow(c.saved, c.firstStart, oneScreen, minimum, 260, frame);
    EXPECT_EQ(placed, c.expected) << c.name;
    EXPECT_TRUE(oneScreen.front().contains(placed.marginsAdded(frame))) << c.name;
  }
}

}  // namespace
}  // namespace kestrel::window
