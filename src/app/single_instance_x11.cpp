#include "app/single_instance_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

struct XFreer {
  void operator()(void* data) const {
    if (data != nullptr) XFree(data);
  }
};

// A 32-bit property's values (CARDINAL or WINDOW lists).
std::vector<unsigned long> cardinals(Display* display, Window window, Atom property, Atom type) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 4096, False, type, &actualType, &format,
                         &count, &after, &raw) != Success) {
    return {};
  }
  std::unique_ptr<unsigned char, XFreer> data(raw);
  if (data == nullptr || format != 32 || actualType != type) return {};
  const auto* values = reinterpret_cast<const unsigned long*>(data.get());
  return std::vector<unsigned long>(values, values + count);
}

std::string title(Display* display, Window window) {
  const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(display, window, name, 0, 1024, False, utf8, &actualType, &format, &count,
                         &after, &raw) != Success) {
    return {};
  }
  std::unique_ptr<unsigned char, XFreer> data(raw);
  if (data == nullptr || format != 8) return {};
  return std::string(reinterpret_cast<const char*>(data.get()), count);
}

// The process's main window: among its top-level windows the one with the
// main window's title, else the first (a message box of it, say).
Window findWindowOf(Display* display, pid_t pid) {
  const Window root = DefaultRootWindow(display);
  std::vector<unsigned long> candidates =
      cardinals(display, root, XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW);
  if (candidates.empty()) {  // no window manager: the top-level windows are the root's children
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) != 0) {
      std::unique_ptr<Window, XFreer> owned(children);
      candidates.assign(children, children + count);
    }
  }
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
  Window found = None;
  for (unsigned long candidate : candidates) {
    const std::vector<unsigned long> owner = cardinals(display, candidate, pidAtom, XA_CARDINAL);
    if (owner.empty() || owner[0] != static_cast<unsigned long>(pid)) continue;
    if (title(display, candidate) == kWindowCaption) return candidate;
    if (found == None) found = candidate;
  }
  return found;
}

void activate(Display* display, Window window) {
  const Window root = DefaultRootWindow(display);
  const bool windowManager =
      !cardinals(display, root, XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW)
           .empty();
  if (windowManager) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // asked for by the user, as a pager would
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  } else {
    XMapRaised(display, window);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
  }
  XSync(display, False);
}

}  // namespace

bool activateWindowOfProcess(pid_t pid, std::chrono::milliseconds wait) {
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  if (!display) return false;
  const Clock::time_point deadline = Clock::now() + wait;
  for (;;) {
    if (const Window window = findWindowOf(display.get(), pid); window != None) {
      activate(display.get(), window);
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace zandrel
