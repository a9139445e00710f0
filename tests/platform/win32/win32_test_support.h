#pragma once
// Real COM objects and real windows for the Windows layer's tests: a JScript
// engine whose objects stand in for a page, a COM object that presents one of
// them as an HTML document, and a document window that hands it out through
// the accessibility bridge the way the browser's own window does.

#include <windows.h>

#include <activscp.h>

#include <functional>
#include <string>
#include <string_view>

#include "runtime/com_win32.h"

namespace zandrel::test {

using win32::ComPtr;

// Dispatches this thread's messages until `done` or the time is up; the
// result is `done()` at the end.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// COM initialisation of the calling thread as a single-threaded apartment,
// balanced on destruction when (and only when) it succeeded.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  bool ok() const { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

// A JScript engine of the system in this thread's apartment.
class ScriptEngine {
 public:
  ScriptEngine();
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  bool ok() const { return static_cast<bool>(global_); }
  // Runs statements; false (with lastError()) when the script fails.
  bool run(std::wstring_view code);
  // A global variable of the script as an object.
  ComPtr<IDispatch> object(std::wstring_view name);
  const std::string& lastError() const { return error_; }

 private:
  class Site;
  ComPtr<Site> site_;
  ComPtr<IActiveScript> engine_;
  ComPtr<IActiveScriptParse> parse_;
  ComPtr<IDispatch> global_;
  std::string error_;
};

// `object` behind the IHTMLDocument interface, which is what the
// accessibility bridge is asked for.
ComPtr<IUnknown> presentAsDocument(ComPtr<IDispatch> object);

// Registers window class `name` on first use (DefWindowProc behaviour).
void registerPlainClass(const wchar_t* name);

// A child (or top-level when parent is null) window of class
// "Internet Explorer_Server" that answers WM_HTML_GETOBJECT with `document`
// (or with 0 when it has none). Destroyed with the object.
class DocumentWindow {
 public:
  DocumentWindow(HWND parent, ComPtr<IUnknown> document);
  ~DocumentWindow();
  DocumentWindow(const DocumentWindow&) = delete;
  DocumentWindow& operator=(const DocumentWindow&) = delete;
  HWND hwnd() const { return hwnd_; }
  int requests() const { return requests_; }

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  ComPtr<IUnknown> document_;
  HWND hwnd_ = nullptr;
  int requests_ = 0;
};

// A plain window of the given class, destroyed with the object.
class PlainWindow {
 public:
  PlainWindow(const wchar_t* className, HWND parent, int x = 0, int y = 0, int w = 100, int h = 100,
              DWORD style = 0);
  ~PlainWindow();
  PlainWindow(const PlainWindow&) = delete;
  PlainWindow& operator=(const PlainWindow&) = delete;
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
};

}  // namespace zandrel::test
