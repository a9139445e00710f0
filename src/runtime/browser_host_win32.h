#pragma once
// A minimal OLE container for the system WebBrowser control: it embeds the
// control in-place in a host window, keeps it sized to that window, reports
// every completed navigation (frames included), and answers the engine's
// questions so that nothing of the engine's own (dialogs, menus, help, new
// windows, error pages, its reload, back and zoom keys) ever shows or acts.

#include <windows.h>

#include <exdisp.h>
#include <ole2.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/com_win32.h"

namespace zandrel::win32 {

class BrowserSite;

class BrowserHost {
 public:
  using NavigatedCallback = std::function<void(const std::string& url)>;

  // Embeds a WebBrowser control in `host` (a child window the caller owns).
  // The callback runs on the host's thread for every NavigateComplete2.
  BrowserHost(HWND host, NavigatedCallback onNavigated);
  ~BrowserHost();  // closes the control: no callback after this
  BrowserHost(const BrowserHost&) = delete;
  BrowserHost& operator=(const BrowserHost&) = delete;

  bool ok() const { return static_cast<bool>(browser_); }

  void setSilent(bool silent);
  void setOffline(bool offline);
  // Starts a navigation and returns at once.
  bool navigate(std::string_view address);
  std::string locationUrl();
  // Fits the control to the host window's client area (after a resize).
  void fitToHost();
  // Lets the control handle its keyboard accelerators (Tab, Ctrl+C, ...)
  // for messages aimed at its windows, keeping the engine's own (reload,
  // back, find, zoom...) and Ctrl+wheel from it. True when the message was
  // used or swallowed and must not be dispatched.
  bool translateAccelerator(MSG& msg);
  // Releases the control; safe to call more than once.
  void close();

 private:
  bool isPage(IDispatch* frame) const;
  bool editableFocus();
  void showUnreachable(const std::string& url);
  void pageComplete(const std::string& url);

  HWND host_;
  NavigatedCallback onNavigated_;
  ComPtr<BrowserSite> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IConnectionPoint> events_;
  DWORD eventsCookie_ = 0;
  // The message page waiting for the blank document it is written into.
  std::optional<std::string> pendingPage_;
};

}  // namespace zandrel::win32
