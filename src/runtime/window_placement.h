#pragma once
// Where a window opens: centred in the work area of its monitor (the screen
// less the panels and taskbars the desktop keeps for itself), never with its
// title bar above the work area or its left edge left of it. A window larger
// than the work area keeps its size: its caption stays on screen, the bottom
// or right part falls off instead.

namespace zandrel {

struct ScreenRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct ScreenPoint {
  int x = 0;
  int y = 0;
};

// Top-left corner of an outer window of `width` x `height` in `workArea`.
ScreenPoint centredInWorkArea(const ScreenRect& workArea, int width, int height);

}  // namespace zandrel
