#pragma once
// The page bridge on Linux: the window tree is the process's GTK widgets (a
// handle is a GtkWidget*), the document window is a WebKitWebView, and the
// document is read by the program's extension inside WebKit's web process.

#include <memory>
#include <string>

#include "page/page_bridge.h"
#include "runtime/document_window_gtk.h"

namespace zandrel {

class UiDispatcher;

// Construct on the UI thread before the first web view exists: it points the
// default web context at the program's extension (programPageExtensionDirectory).
// Calls from other threads reach the UI thread through `ui`, the window
// layer's (uiDispatcherOf), bound to the UI thread; null: no bridge.
std::unique_ptr<PageBridge> createGtkPageBridge(std::shared_ptr<UiDispatcher> ui);
// The same with the extension taken from another directory (test programs and
// the benchmark live elsewhere in the build tree).
std::unique_ptr<PageBridge> createGtkPageBridge(std::shared_ptr<UiDispatcher> ui,
                                                const std::string& extensionDirectory);

// "<directory of the running program>/webext" in a build tree, else the
// installed extension directory relative to the program.
std::string programPageExtensionDirectory();

}  // namespace zandrel
