#pragma once
// The window layer on Win32, shared by the files that do its jobs: the window
// and its geometry (window_layer_win32.cpp), the loop and the end of the
// program (window_layer_end_win32.cpp), message boxes
// (window_layer_box_win32.cpp) and the properties other threads read and
// write (window_layer_properties_win32.cpp).

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/browser_host_win32.h"
#include "runtime/support_win32.h"
#include "runtime/ui_dispatcher.h"
#include "runtime/window_layer_win32.h"

namespace zandrel::win32_layer {

using win32::BrowserHost;
using win32::narrow;
using win32::widen;

constexpr wchar_t kPicBoxClass[] = L"ZandrelPicBox";
constexpr wchar_t kBrowserClass[] = L"ZandrelHtmlViewer";

// Private messages of the main window. kInvokeMessage runs the calls other
// threads queued on ui_; kEndMessage ends the program from another thread.
constexpr UINT kInvokeMessage = WM_APP + 0x100;
constexpr UINT kEndMessage = WM_APP + 0x101;
constexpr UINT kFirstMenuId = 1001;
constexpr UINT_PTR kLabelSubclassId = 0x7A4C;

struct Control {
  std::string name;
  ControlKind kind = ControlKind::PicBox;
  HWND hwnd = nullptr;
  std::unique_ptr<BrowserHost> browser;
  // Inside 跳转完毕: the address of that navigation.
  std::optional<std::string> navigatedUrl;
};

class Win32WindowLayer final : public WindowLayer {
 public:
  Win32WindowLayer() = default;
  Win32WindowLayer(const Win32WindowLayer&) = delete;
  Win32WindowLayer& operator=(const Win32WindowLayer&) = delete;
  ~Win32WindowLayer() override;
  bool initialise() override;
  void registerExitRoutine(Procedure routine) override;
  bool loadWindow(const WindowDesign& design) override;
  int messageLoop() override;
  void endProgram(int exitCode) override;
  WindowHandle windowHandle(std::string_view control) override;
  void processWaitingMessages() override;
  int messageBox(std::string_view text, int style, std::optional<std::string> caption,
                 WindowHandle owner) override;
  int height(std::string_view name) override;
  void setHeight(std::string_view name, int value) override;
  std::string url(std::string_view control) override;
  void setUrl(std::string_view control, std::string_view address) override;
  std::string caption(std::string_view control) override;
  void setCaption(std::string_view control, std::string_view text) override;
  void postNotification(WindowHandle target, unsigned message, std::uintptr_t wParam,
                        std::intptr_t lParam) override;

 private:
  Control* find(std::string_view name);
  HWND windowOf(std::string_view name);
  HMENU buildMenu(const WindowDesign& design);
  bool createControl(const ControlDesign& c);
  void navigated(Control& control, const std::string& url);
  bool translateBrowserAccelerator(MSG& msg);
  void menuSelected(UINT id);
  void labelNotification(HWND label, WPARAM wParam, LPARAM lParam);
  void destroying();
  void destroyed();
  static LRESULT CALLBACK mainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK browserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK labelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR data);
  DWORD uiThread_ = 0;
  // Other threads' calls; nothing runs once the window is gone.
  UiDispatcher ui_;
  bool oleInitialised_ = false;
  WindowDesign design_;
  std::atomic<HWND> main_{nullptr};
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<std::string> menuItems_;  // index: menu id - kFirstMenuId
  ProgramEnd end_;
  bool abandoning_ = false;
};

}  // namespace zandrel::win32_layer
