#pragma once
// Key sampling, the polling timer and reading threads on Win32.

#include <memory>

#include "hooks/hotkeys.h"

namespace zandrel {

std::unique_ptr<HotkeyPlatform> createWin32HotkeyPlatform();

}  // namespace zandrel
