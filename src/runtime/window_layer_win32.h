#pragma once
// The Win32 window layer: a top-level window with a menu bar, picture boxes,
// the system WebBrowser control and static labels, built from a WindowDesign.

#include <memory>

#include "runtime/window_layer.h"

namespace zandrel {

// The main window's class, by which a second start finds the first.
inline constexpr wchar_t kMainWindowClass[] = L"ZandrelMainWindow";

std::unique_ptr<WindowLayer> createWin32WindowLayer();

}  // namespace zandrel
