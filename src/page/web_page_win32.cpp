#include "page/web_page_win32.h"

#include <windows.h>

#include <oleacc.h>

#include <vector>

#include "page/automation_win32.h"
#include "runtime/com_win32.h"
#include "runtime/support_win32.h"

namespace zandrel {
namespace {

using win32::ComPtr;

// IHTMLDocument, the interface the browser's document window hands out.
constexpr GUID kIidHtmlDocument = {
    0x626FC520, 0xA41E, 0x11CF, {0xA7, 0x31, 0x00, 0xA0, 0xC9, 0x08, 0x26, 0x37}};

// Per thread, whether each enterApartment that is still open initialised
// COM (and so must be balanced). A thread already in the multithreaded
// apartment refuses, and must then not be uninitialised by us.
thread_local std::vector<bool> openApartments;

class Win32PageBridge final : public PageBridge {
 public:
  bool isWindow(WindowHandle window) override {
    return window && IsWindow(reinterpret_cast<HWND>(window));
  }

  WindowHandle nextChild(WindowHandle parent, WindowHandle after) override {
    if (!parent) return 0;  // no parent would list the top-level windows
    return reinterpret_cast<WindowHandle>(FindWindowExW(
        reinterpret_cast<HWND>(parent), reinterpret_cast<HWND>(after), nullptr, nullptr));
  }

  std::string className(WindowHandle window) override {
    wchar_t name[50];
    const int length = GetClassNameW(reinterpret_cast<HWND>(window), name, 50);
    if (length <= 0) return {};
    return win32::narrow(std::wstring_view(name, static_cast<std::size_t>(length)));
  }

  void processWaitingMessages() override { win32::dispatchWaitingMessages(); }

  std::string_view documentWindowClass() const override { return win32::kDocumentWindowClass; }

  void enterApartment() override { openApartments.push_back(SUCCEEDED(CoInitialize(nullptr))); }

  void leaveApartment() override {
    if (openApartments.empty()) return;
    const bool initialised = openApartments.back();
    openApartments.pop_back();
    if (initialised) CoUninitialize();
  }

  ObjectRef documentFromWindow(WindowHandle documentWindow, int timeoutMs) override {
    static const UINT getObject = RegisterWindowMessageW(L"WM_HTML_GETOBJECT");
    if (!getObject || !documentWindow) return nullptr;
    DWORD_PTR result = 0;
    // A hung or busy window leaves the result at 0.
    SendMessageTimeoutW(reinterpret_cast<HWND>(documentWindow), getObject, 0, 0, SMTO_ABORTIFHUNG,
                        static_cast<UINT>(timeoutMs > 0 ? timeoutMs : 0), &result);
    if (!result) return nullptr;
    ComPtr<IUnknown> document;
    if (ObjectFromLresult(static_cast<LRESULT>(result), kIidHtmlDocument, 0, document.putVoid()) !=
            S_OK ||
        !document) {
      return nullptr;
    }
    ComPtr<IDispatch> automation = document.query<IDispatch>(IID_IDispatch);
    return win32::automationObject(automation.get());
  }
};

}  // namespace

std::unique_ptr<PageBridge> createWin32PageBridge() {
  return std::make_unique<Win32PageBridge>();
}

}  // namespace zandrel
