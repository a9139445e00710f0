#pragma once
// The window layer on GTK 3 + WebKitGTK 4.1 (X11).

#include <memory>

#include "runtime/window_layer.h"

namespace zandrel {

std::unique_ptr<WindowLayer> createGtkWindowLayer();

}  // namespace zandrel
