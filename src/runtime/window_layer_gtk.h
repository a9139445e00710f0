#pragma once
// The window layer on GTK 3 + WebKitGTK 4.1 (X11).

#include <gtk/gtk.h>

#include <memory>

#include "runtime/window_layer.h"

namespace zandrel {

std::unique_ptr<WindowLayer> createGtkWindowLayer();

// A window handle on Linux is the widget's address, for the window layer and
// the page bridge alike.
inline WindowHandle handleOf(GtkWidget* widget) {
  return reinterpret_cast<WindowHandle>(widget);
}

}  // namespace zandrel
