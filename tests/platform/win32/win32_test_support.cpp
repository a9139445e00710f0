#include "win32_test_support.h"

#include <mshtml.h>
#include <oleacc.h>

#include <chrono>
#include <memory>

#include "runtime/support_win32.h"

namespace zandrel::test {

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

namespace {

// {f414c260-6ac0-11cf-b6d1-00aa00bbbb58}
constexpr CLSID kClsidJScript = {
    0xf414c260, 0x6ac0, 0x11cf, {0xb6, 0xd1, 0x00, 0xaa, 0x00, 0xbb, 0xbb, 0x58}};

// COM objects of the tests are owned by their reference count.
template <class T, class... Args>
ComPtr<T> makeCom(Args&&... args) {
  return ComPtr<T>::adopt(std::make_unique<T>(std::forward<Args>(args)...).release());
}

#define Z_COM_REFCOUNT(Type)                        \
  STDMETHODIMP_(ULONG) AddRef() override {          \
    return InterlockedIncrement(&refs_);            \
  }                                                 \
  STDMETHODIMP_(ULONG) Release() override {         \
    const LONG left = InterlockedDecrement(&refs_); \
    if (left == 0) std::unique_ptr<Type>{this};     \
    return static_cast<ULONG>(left);                \
  }                                                 \
  LONG refs_ = 1;

class DocumentObject final : public IHTMLDocument {
 public:
  explicit DocumentObject(ComPtr<IDispatch> inner) : inner_(std::move(inner)) {}
  Z_COM_REFCOUNT(DocumentObject)

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != __uuidof(IHTMLDocument)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IHTMLDocument*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return inner_->GetTypeInfoCount(n); }
  STDMETHODIMP GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
    return inner_->GetTypeInfo(i, l, t);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT n, LCID l, DISPID* ids) override {
    return inner_->GetIDsOfNames(iid, names, n, l, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID l, WORD flags, DISPPARAMS* p, VARIANT* r,
                      EXCEPINFO* e, UINT* a) override {
    return inner_->Invoke(id, iid, l, flags, p, r, e, a);
  }
  STDMETHODIMP get_Script(IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = ComPtr<IDispatch>(inner_).detach();
    return S_OK;
  }

 private:
  ComPtr<IDispatch> inner_;
};

}  // namespace

class ScriptEngine::Site final : public IActiveScriptSite {
 public:
  Z_COM_REFCOUNT(Site)
  std::string error;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IActiveScriptSite) return E_NOINTERFACE;
    *out = static_cast<IActiveScriptSite*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetItemInfo(LPCOLESTR, DWORD, IUnknown** unk, ITypeInfo** info) override {
    if (unk) *unk = nullptr;
    if (info) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
  STDMETHODIMP OnScriptError(IActiveScriptError* e) override {
    EXCEPINFO info{};
    error = "script error";
    if (e && SUCCEEDED(e->GetExceptionInfo(&info)) && info.bstrDescription) {
      error = win32::narrow(info.bstrDescription);
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return S_OK;
  }
  STDMETHODIMP OnEnterScript() override { return S_OK; }
  STDMETHODIMP OnLeaveScript() override { return S_OK; }
};

ScriptEngine::ScriptEngine() : site_(makeCom<Site>()) {
  if (FAILED(CoCreateInstance(kClsidJScript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                              engine_.putVoid()))) {
    error_ = "JScript is not available";
    return;
  }
  parse_ = engine_.query<IActiveScriptParse>();
  if (!parse_ || FAILED(engine_->SetScriptSite(site_.get())) || FAILED(parse_->InitNew()) ||
      FAILED(engine_->SetScriptState(SCRIPTSTATE_CONNECTED)) ||
      FAILED(engine_->GetScriptDispatch(nullptr, global_.put()))) {
    error_ = "JScript could not be started";
    global_.reset();
  }
}

ScriptEngine::~ScriptEngine() {
  global_.reset();
  parse_.reset();
  if (engine_) engine_->Close();
}

bool ScriptEngine::run(std::wstring_view code) {
  if (!parse_) return false;
  site_->error.clear();
  const std::wstring text(code);
  EXCEPINFO info{};
  const HRESULT hr =
      parse_->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  error_ = site_->error;
  return SUCCEEDED(hr) && error_.empty();
}

ComPtr<IDispatch> ScriptEngine::object(std::wstring_view name) {
  ComPtr<IDispatch> result;
  if (!global_) return result;
  std::wstring wide(name);
  LPOLESTR names[1] = {wide.data()};
  DISPID id;
  if (FAILED(global_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return result;
  DISPPARAMS none{};
  win32::Variant value;
  if (FAILED(global_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                             value.get(), nullptr, nullptr)) ||
      value->vt != VT_DISPATCH) {
    return result;
  }
  return ComPtr<IDispatch>::share(value->pdispVal);
}

ComPtr<IUnknown> presentAsDocument(ComPtr<IDispatch> object) {
  ComPtr<DocumentObject> document = makeCom<DocumentObject>(std::move(object));
  return ComPtr<IUnknown>::share(static_cast<IHTMLDocument*>(document.get()));
}

void registerPlainClass(const wchar_t* name) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);  // a class that already exists is fine
}

DocumentWindow::DocumentWindow(HWND parent, ComPtr<IUnknown> document)
    : document_(std::move(document)) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &DocumentWindow::proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"Internet Explorer_Server";
  RegisterClassExW(&wc);
  hwnd_ = CreateWindowExW(0, L"Internet Explorer_Server", L"", parent ? WS_CHILD | WS_VISIBLE : 0,
                          0, 0, 50, 50, parent, nullptr, wc.hInstance, nullptr);
  // Other tests use the class too: the procedure is this window's own.
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DocumentWindow::proc));
}

DocumentWindow::~DocumentWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

LRESULT CALLBACK DocumentWindow::proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  static const UINT getObject = RegisterWindowMessageW(L"WM_HTML_GETOBJECT");
  if (msg == getObject) {
    auto* self = reinterpret_cast<DocumentWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return 0;
    ++self->requests_;
    if (!self->document_) return 0;
    return LresultFromObject(__uuidof(IHTMLDocument), wParam, self->document_.get());
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

PlainWindow::PlainWindow(const wchar_t* className, HWND parent, int x, int y, int w, int h,
                         DWORD style) {
  hwnd_ = CreateWindowExW(0, className, L"", (parent ? WS_CHILD | WS_VISIBLE : 0) | style, x, y, w,
                          h, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}

PlainWindow::~PlainWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

}  // namespace zandrel::test
