#pragma once
// The Win32 window layer: a top-level window with a menu bar, picture boxes,
// the system WebBrowser control and static labels, built from a WindowDesign.

#include <memory>

#include "runtime/window_layer.h"

namespace zandrel {

std::unique_ptr<WindowLayer> createWin32WindowLayer();

}  // namespace zandrel
