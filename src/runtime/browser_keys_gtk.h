#pragma once
// The browser engine's own keys on GTK: kept from WebKit (and from the page in
// it) before they reach it, for every view inside the window.

#include <gtk/gtk.h>

namespace zandrel {

// The Windows virtual-key code of a GDK key event's key, 0 when the rule of
// runtime/browser_keys.h has no use for it.
int virtualKeyOfGdkKey(guint keyval, guint16 hardwareKeycode);

// Every key press of `toplevel` passes IsBrowserCommandKey first, ahead of
// the widget with the focus.
void keepBrowserCommandsFromEngine(GtkWidget* toplevel);
// Every wheel turn over `view` passes IsBrowserZoomWheel first.
void keepZoomWheelFromEngine(GtkWidget* view);

}  // namespace zandrel
