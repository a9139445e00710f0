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

// A window handle on Linux is the widget's address, for the window layer and
// the page bridge alike.
inline WindowHandle handleOf(GtkWidget* widget) {
  return reinterpret_cast<WindowHandle>(widget);
}

}  // namespace zandrel
