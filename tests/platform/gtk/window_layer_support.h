#pragma once
// Support for the GTK window layer's tests: a local web server, the main
// window's design pointed at it, X measurements from a thread of the test's
// own, and calls onto the UI thread that bypass the layer under test.

#include <gtk/gtk.h>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/window_layer.h"

struct _XDisplay;  // Xlib's Display; its header's macros (None, Status) clash with C++ names

namespace zandrel::site {
class HttpServer;
}

namespace zandrel::testing {

// Pages for the browser: plain pages, one whose script never returns, one that
// opens every kind of script dialog and reports the answers in its title.
class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  std::string address(const std::string& path) const;
  int requests(const std::string& path) const;

 private:
  std::unique_ptr<site::HttpServer> server_;
  mutable std::mutex mutex_;
  std::map<std::string, int> requests_;
};

// The main window's geometry and menu with the browser on `url`; handlers are
// bound by the tests.
WindowDesign mainDesign(const std::string& url);

// Runs fn on the UI thread (through GLib directly, not the layer) and waits.
void onUi(const std::function<void()>& fn);

// Polls until done() holds or the limit passes; the result of the last poll.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// A top-level GTK window of this process with exactly this title (UI thread).
GtkWindow* toplevelWithTitle(const std::string& title);

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

// The X server as a thread other than GTK's sees it: its own connection.
class XView {
 public:
  XView();
  ~XView();
  XView(const XView&) = delete;
  XView& operator=(const XView&) = delete;

  // The window manager's frame around the client window (or the client
  // window itself without a window manager), in root coordinates, borders
  // included: the outer rectangle of the window.
  Rect outer(unsigned long client);
  int screenWidth();
  int screenHeight();
  // Asks the window manager, as a pager would.
  void requestClose(unsigned long client);
  void requestMaximise(unsigned long client);
  void requestFullscreen(unsigned long client);
  void requestResize(unsigned long client, int width, int height);

 private:
  void sendToRoot(unsigned long client, const char* message, long a, long b, long c);
  _XDisplay* display_ = nullptr;
};

// The client window's X id (UI thread).
unsigned long xidOf(WindowHandle window);

// Runs a command line; its exit status.
int run(const std::string& command);

}  // namespace zandrel::testing
