#pragma once
// The engine's document window on Linux, as the page bridge searches for it
// and the mouse filter recognises the focus: one name for both.

#include <string_view>

namespace zandrel {

// The GType name of WebKit's view, which stands where a browser's document
// window stands on other platforms.
inline constexpr std::string_view kGtkDocumentWindowClass = "WebKitWebView";

// Object data the browser control sets on its view while it is on its way to
// a new page and still shows the one before (load started, no answer yet), so
// a read does not take the earlier page for the one asked for.
inline constexpr char kAwaitingNewPageKey[] = "zandrel-awaiting-new-page";

}  // namespace zandrel
