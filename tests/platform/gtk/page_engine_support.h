#pragma once
// A window like the program's (a web view nested in containers, on the default
// web context with the page extension), and helpers that load fixture pages
// and time reads while watching that the UI thread keeps answering.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/window_layer.h"

namespace zandrel::testing {

// Iterates the UI thread's main context until `done` or the time limit.
bool runUntil(const std::function<bool()>& done, int timeoutMs);
void runFor(int ms);

struct Read {
  std::string text;
  double ms = 0;            // how long attach + divInnerHtml took
  double largestGapMs = 0;  // largest gap between two ticks of a 10 ms UI timer
};

class EngineWindow {
 public:
  EngineWindow();
  ~EngineWindow();
  EngineWindow(const EngineWindow&) = delete;
  EngineWindow& operator=(const EngineWindow&) = delete;

  WebKitWebView* view() const { return view_; }
  // The widget the program would name as the browser control: the view sits
  // some levels below it.
  WindowHandle browserHandle() const { return reinterpret_cast<WindowHandle>(outer_); }
  WindowHandle viewHandle() const { return reinterpret_cast<WindowHandle>(view_); }

  // Loads the address and waits until it has finished loading.
  bool load(const std::string& address, int timeoutMs = 15000);
  // Loads a document given as text, with `base` as its address, and waits.
  bool loadHtml(const std::string& html, const std::string& base, int timeoutMs = 15000);
  // Gives the view another size (the program's browser is 2000 x 2800) and
  // waits until the page's viewport has it.
  bool resizeView(int width, int height);
  // Runs script in the page's own world and returns its result as text.
  std::string evaluate(const std::string& script, int timeoutMs = 5000);

  // Attaches a new page object to `handle` and reads, on the UI thread or on
  // a new thread, timing it and watching the UI thread.
  Read read(WindowHandle handle, const std::string& key, int skip, bool onUiThread);

  // Messages the view received from the page extension, as "name address".
  std::vector<std::string> messages;

 private:
  GtkWidget* window_ = nullptr;
  GtkWidget* outer_ = nullptr;
  WebKitWebView* view_ = nullptr;
};

std::string fixtureAddress(const std::string& file);

}  // namespace zandrel::testing
