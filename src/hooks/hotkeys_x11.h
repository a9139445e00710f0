#pragma once
// The hotkey service's key source on X11: the system-wide key and pointer
// button state from the X server, polled on a GLib timer of the UI thread.

#include <memory>

#include "hooks/hotkeys.h"

namespace zandrel {

std::unique_ptr<HotkeyPlatform> createX11HotkeyPlatform();

}  // namespace zandrel
