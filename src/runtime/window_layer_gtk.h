#pragma once
// The window layer on GTK 3 + WebKitGTK 4.1 (X11).

#include <gtk/gtk.h>

#include <memory>

#include "runtime/window_layer.h"

namespace zandrel {

class UiDispatcher;

std::unique_ptr<WindowLayer> createGtkWindowLayer();
// A GTK layer's calls onto the UI thread (null for any other layer), for the
// page bridge to share: the end of the program then closes the one queue
// that every caller waits on, and no call after it waits.
std::shared_ptr<UiDispatcher> uiDispatcherOf(WindowLayer& layer);

// The exit code when the X display goes away under the program (sysexits'
// EX_UNAVAILABLE): the end still runs, the voice is silenced, then the
// process ends at once, as it has no window left to run.
inline constexpr int kDisplayLostExitCode = 69;

// A window handle on Linux is the widget's address, for the window layer and
// the page bridge alike.
inline WindowHandle handleOf(GtkWidget* widget) {
  return reinterpret_cast<WindowHandle>(widget);
}

}  // namespace zandrel
