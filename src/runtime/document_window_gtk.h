#pragma once
// The engine's document window on Linux, as the page bridge searches for it
// and the mouse filter recognises the focus: one name for both.

#include <string_view>

namespace zandrel {

// The GType name of WebKit's view, which stands where a browser's document
// window stands on other platforms.
inline constexpr std::string_view kGtkDocumentWindowClass = "WebKitWebView";

}  // namespace zandrel
