#pragma once
// The per-thread mouse hook on Win32.

#include <memory>

#include "hooks/mouse_filter.h"

namespace zandrel {

std::unique_ptr<MouseHookPlatform> createWin32MouseHookPlatform();

}  // namespace zandrel
