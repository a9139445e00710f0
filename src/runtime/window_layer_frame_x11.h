#pragma once
// The window manager's frame around a top-level window (_NET_FRAME_EXTENTS).
//
// The design gives the window's OUTER size, frame and title bar included, as
// the classic Windows window does. X11 clients only size their own window, so
// the layer learns the frame from the window manager and sizes the client
// area for the outer size to come out exact.

#include <gdk/gdk.h>

#include "runtime/window_placement.h"

#include <optional>

namespace zandrel {

struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
  bool operator==(const FrameExtents&) const = default;
};

// The frame extents the window manager has set on the (realized) top-level
// window; nullopt when it has set none.
std::optional<FrameExtents> readFrameExtents(GdkWindow* toplevel);

// Before the window is mapped: asks a window manager that supports it to set
// _NET_FRAME_EXTENTS now (_NET_REQUEST_FRAME_EXTENTS) and waits for the answer
// at most `timeoutMs`. Without a window manager there is no frame: {0,0,0,0}.
FrameExtents requestFrameExtents(GdkWindow* toplevel, int timeoutMs);

// The work area of the monitor a new window opens on (under the pointer, else
// the primary one), which the window is centred in.
ScreenRect openingWorkArea();

}  // namespace zandrel
