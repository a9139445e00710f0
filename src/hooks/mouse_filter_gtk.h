#pragma once
// The browser mouse filter's hook on GTK: every mouse event GDK dispatches on
// the UI thread passes the installed filters before GTK delivers it.

#include <memory>

#include "hooks/mouse_filter.h"

namespace zandrel {

// Construct on the UI thread: the thread that dispatches GTK's events.
std::unique_ptr<MouseHookPlatform> createGtkMouseHookPlatform();

}  // namespace zandrel
