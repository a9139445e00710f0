#pragma once
// The page bridge on Windows: the window tree through user32, the document
// through the accessibility bridge (WM_HTML_GETOBJECT + ObjectFromLresult).

#include <memory>

#include "page/page_bridge.h"

namespace zandrel {

std::unique_ptr<PageBridge> createWin32PageBridge();

}  // namespace zandrel
