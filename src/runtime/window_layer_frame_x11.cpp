#include "runtime/window_layer_frame_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <chrono>
#include <thread>

namespace zandrel {

std::optional<FrameExtents> readFrameExtents(GdkWindow* toplevel) {
  if (toplevel == nullptr || !GDK_IS_X11_WINDOW(toplevel)) return std::nullopt;
  Display* display = GDK_WINDOW_XDISPLAY(toplevel);
  const Window window = GDK_WINDOW_XID(toplevel);
  const Atom property =
      gdk_x11_get_xatom_by_name_for_display(gdk_window_get_display(toplevel), "_NET_FRAME_EXTENTS");
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  gdk_x11_display_error_trap_push(gdk_window_get_display(toplevel));
  const int status = XGetWindowProperty(display, window, property, 0, 4, False, XA_CARDINAL, &type,
                                        &format, &count, &remaining, &data);
  gdk_x11_display_error_trap_pop_ignored(gdk_window_get_display(toplevel));
  std::optional<FrameExtents> result;
  if (status == Success && type == XA_CARDINAL && format == 32 && count == 4 && data != nullptr) {
    // Format-32 properties arrive as an array of long, whatever long's size.
    const auto* values = reinterpret_cast<const long*>(data);
    result = FrameExtents{static_cast<int>(values[0]), static_cast<int>(values[1]),
                          static_cast<int>(values[2]), static_cast<int>(values[3])};
  }
  if (data != nullptr) XFree(data);
  return result;
}

FrameExtents requestFrameExtents(GdkWindow* toplevel, int timeoutMs) {
  if (toplevel == nullptr || !GDK_IS_X11_WINDOW(toplevel)) return {};
  GdkScreen* screen = gdk_window_get_screen(toplevel);
  if (!gdk_x11_screen_supports_net_wm_hint(screen,
                                           gdk_atom_intern_static_string("_NET_FRAME_EXTENTS"))) {
    // No (EWMH) window manager: nobody draws a frame.
    return readFrameExtents(toplevel).value_or(FrameExtents{});
  }
  if (auto known = readFrameExtents(toplevel)) return *known;
  GdkDisplay* gdkDisplay = gdk_window_get_display(toplevel);
  Display* display = GDK_WINDOW_XDISPLAY(toplevel);
  if (gdk_x11_screen_supports_net_wm_hint(
          screen, gdk_atom_intern_static_string("_NET_REQUEST_FRAME_EXTENTS"))) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = GDK_WINDOW_XID(toplevel);
    event.xclient.message_type =
        gdk_x11_get_xatom_by_name_for_display(gdkDisplay, "_NET_REQUEST_FRAME_EXTENTS");
    event.xclient.format = 32;
    XSendEvent(display, GDK_WINDOW_XID(gdk_screen_get_root_window(screen)), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
  }
  // The answer is a property change on our window; poll the property directly
  // instead of iterating the main context, which would dispatch unrelated
  // events in the middle of building the window.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    XSync(display, False);
    if (auto extents = readFrameExtents(toplevel)) return *extents;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {};
}

ScreenRect openingWorkArea() {
  // The monitor the window opens on: the one under the pointer (where the
  // user started it), else the primary one.
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = nullptr;
  GdkSeat* seat = display != nullptr ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
  if (pointer != nullptr) {
    int x = 0;
    int y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    monitor = gdk_display_get_monitor_at_point(display, x, y);
  }
  if (monitor == nullptr && display != nullptr) monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr && display != nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor == nullptr) {
    GdkWindow* root = gdk_get_default_root_window();
    ScreenRect whole;
    gdk_window_get_geometry(root, &whole.x, &whole.y, &whole.width, &whole.height);
    return whole;
  }
  // The screen less the panels (_NET_WORKAREA), in GDK's scaled pixels.
  GdkRectangle area{};
  gdk_monitor_get_workarea(monitor, &area);
  return {area.x, area.y, area.width, area.height};
}

}  // namespace zandrel
