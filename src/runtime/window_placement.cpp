#include "runtime/window_placement.h"

#include <algorithm>

namespace zandrel {

ScreenPoint centredInWorkArea(const ScreenRect& workArea, int width, int height) {
  // Integer halves as the classic centring has them; the caption (top) and
  // the system menu (left) are what the user needs to reach.
  return {workArea.x + std::max(0, (workArea.width - width) / 2),
          workArea.y + std::max(0, (workArea.height - height) / 2)};
}

}  // namespace zandrel
