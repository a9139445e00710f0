// Where the main window opens: centred in the work area, caption on screen.

#include "runtime/window_placement.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

void expectCorner(ScreenPoint corner, int x, int y) {
  EXPECT_EQ(corner.x, x);
  EXPECT_EQ(corner.y, y);
}

TEST(WindowPlacement, CentredInTheWorkAreaNotTheWholeScreen) {
  // 1920 x 1080 with a 40-pixel taskbar at the bottom.
  expectCorner(centredInWorkArea({0, 0, 1920, 1040}, 966, 623), 477, 208);
  // A panel at the top and one on the left move the area's origin.
  expectCorner(centredInWorkArea({64, 30, 1856, 1050}, 966, 623), 64 + 445, 30 + 213);
  // A second monitor to the right of the first.
  expectCorner(centredInWorkArea({1920, 0, 1280, 984}, 966, 623), 1920 + 157, 180);
}

TEST(WindowPlacement, AWindowTallerOrWiderThanTheWorkAreaKeepsItsCaptionOnScreen) {
  // 175 % of 1920 x 1080 less the taskbar, and 125 % of 1366 x 768: both
  // shorter than the 623-pixel window.
  expectCorner(centredInWorkArea({0, 0, 1097, 590}, 966, 623), 65, 0);
  expectCorner(centredInWorkArea({0, 0, 1093, 584}, 966, 623), 63, 0);
  // GDK_SCALE=2 on 1920 x 1080: 960 x 540 logical, narrower and lower.
  expectCorner(centredInWorkArea({0, 0, 960, 540}, 966, 623), 0, 0);
  // The same on a monitor whose work area starts below a top panel.
  expectCorner(centredInWorkArea({1024, 28, 800, 572}, 966, 623), 1024, 28);
}

}  // namespace
}  // namespace zandrel
