#pragma once
// The browser mouse filter on GTK: every event GDK dispatches on the UI thread
// passes it before GTK delivers it, and the browser's own context menu asks it
// too.

#include <memory>

#include "hooks/mouse_filter.h"

namespace zandrel {

// Construct on the UI thread: the thread that dispatches GTK's events.
std::unique_ptr<MouseHookPlatform> createGtkMouseHookPlatform();

}  // namespace zandrel
