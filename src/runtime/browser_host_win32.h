#pragma once
// A minimal OLE container for the system WebBrowser control: it embeds the
// control in-place in a host window, keeps it sized to that window and
// reports every completed navigation (frames included).

#include <windows.h>

#include <exdisp.h>
#include <ole2.h>

#include <functional>
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
  HWND hostWindow() const { return host_; }

  void setSilent(bool silent);
  void setOffline(bool offline);
  // Starts a navigation and returns at once.
  bool navigate(std::string_view address);
  std::string locationUrl();
  // Fits the control to the host window's client area (after a resize).
  void fitToHost();
  // Lets the control handle its keyboard accelerators (Tab, Ctrl+C, ...)
  // for messages aimed at its windows. True when it used the message.
  bool translateAccelerator(MSG& msg);
  // Releases the control; safe to call more than once.
  void close();

 private:
  HWND host_;
  ComPtr<BrowserSite> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IConnectionPoint> events_;
  DWORD eventsCookie_ = 0;
};

}  // namespace zandrel::win32
