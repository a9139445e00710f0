#include "runtime/browser_host_win32.h"

#include <docobj.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <shobjidl.h>

#include <cctype>
#include <memory>
#include <utility>

#include "runtime/error_page.h"

namespace zandrel::win32 {
namespace {

// The command group in which the engine asks its host about script errors.
// Spelled out here: the import library does not carry it.
constexpr GUID kDocHostCommandHandler = {
    0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

constexpr wchar_t kEmulationKey[] =
    L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
// IE11 edge mode, whatever the page declares.
constexpr DWORD kEdgeMode = 11001;

class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* put() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// An argument of an event as the control passes it: by value or by reference.
const VARIANT* argument(const DISPPARAMS& params, UINT indexFromLast) {
  if (indexFromLast >= params.cArgs) return nullptr;
  const VARIANT* v = &params.rgvarg[indexFromLast];
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  return v;
}

std::string textArgument(const DISPPARAMS& params, UINT indexFromLast) {
  const VARIANT* v = argument(params, indexFromLast);
  if (!v) return {};
  const BSTR* text = nullptr;
  if (v->vt == VT_BSTR) text = &v->bstrVal;
  if (v->vt == (VT_BYREF | VT_BSTR)) text = v->pbstrVal;
  if (!text || !*text) return {};
  return narrow(std::wstring_view(*text, SysStringLen(*text)));
}

LONG numberArgument(const DISPPARAMS& params, UINT indexFromLast) {
  const VARIANT* v = argument(params, indexFromLast);
  if (!v) return 0;
  switch (v->vt) {
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return v->lVal;
    case VT_BYREF | VT_I4:
    case VT_BYREF | VT_UI4:
      return v->plVal ? *v->plVal : 0;
    default:
      return 0;
  }
}

IDispatch* dispatchArgument(const DISPPARAMS& params, UINT indexFromLast) {
  const VARIANT* v = argument(params, indexFromLast);
  if (!v) return nullptr;
  if (v->vt == VT_DISPATCH) return v->pdispVal;
  if (v->vt == (VT_BYREF | VT_DISPATCH) && v->ppdispVal) return *v->ppdispVal;
  return nullptr;
}

void setCancel(const DISPPARAMS& params, UINT indexFromLast) {
  const VARIANT* v = argument(params, indexFromLast);
  if (v && v->vt == (VT_BYREF | VT_BOOL) && v->pboolVal) *v->pboolVal = VARIANT_TRUE;
}

bool held(int key) {
  return GetKeyState(key) < 0;
}

// Whether the engine's own handling of a key must not run. The exam is one
// page in a fixed cut-out: reloading it loses the answers and restarts the
// clock, going back leaves it, zoom moves it out of the cut-out, and the
// engine's dialogs and windows (find, print, open, save, new window) have
// no place in this program. The page's own keys (Tab, Space, Enter, arrows,
// letters, digits), the editing keys (Ctrl+A/C/V/X/Y/Z) and F1 stay its own.
bool isEngineKey(const MSG& msg, bool editableFocus) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
  const auto key = static_cast<UINT>(msg.wParam);
  // WM_SYSKEYDOWN says in its context bit whether Alt is down.
  const bool alt = (msg.message == WM_SYSKEYDOWN && (msg.lParam & (1 << 29)) != 0) || held(VK_MENU);
  const bool ctrl = held(VK_CONTROL);
  if (key >= VK_BROWSER_BACK && key <= VK_BROWSER_HOME) return true;  // the keyboard's web keys
  switch (key) {
    case VK_F1:  // IE's help; the page and the read-aloud key see F1 all the same
    case VK_F3:  // find
    case VK_F5:  // reload, with or without Ctrl or Shift
    case VK_F7:  // the caret-browsing question
    case VK_F11:
    case VK_F12:
      return true;
    case VK_BACK:  // back (Shift: forward); deleting stays where text is edited
      return !editableFocus;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_HOME:
      return alt;  // back, forward, home page
    default:
      break;
  }
  // Ctrl+Alt is AltGr on many keyboards: it types characters.
  if (!ctrl || alt) return false;
  switch (key) {
    case 'A':
    case 'C':
    case 'V':
    case 'X':
    case 'Y':
    case 'Z':
      return false;
    case '0':
    case VK_NUMPAD0:
    case VK_OEM_PLUS:
    case VK_OEM_MINUS:
    case VK_ADD:
    case VK_SUBTRACT:
      return true;  // zoom
    default:
      // Every other Ctrl+letter is one of the engine's commands (find, print,
      // new window, open, address, save, reload, history, favourites...).
      return key >= 'A' && key <= 'Z';
  }
}

}  // namespace

bool preferCurrentDocumentMode() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return false;
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  RegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kEmulationKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD value = kEdgeMode;
  return RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS;
}

// The container side of the embedding. Reference counted like any COM
// object; the host drops its references in close().
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDocHostUIHandler,
                          public IDocHostShowUI,
                          public IOleCommandTarget,
                          public IDispatch {
 public:
  BrowserSite(HWND host, BrowserSiteEvents events) : host_(host), events_(std::move(events)) {}

  static ComPtr<BrowserSite> create(HWND host, BrowserSiteEvents events) {
    // COM reference counting owns the object from here on (see Release).
    return ComPtr<BrowserSite>::adopt(
        std::make_unique<BrowserSite>(host, std::move(events)).release());
  }

  void setInPlaceObject(ComPtr<IOleInPlaceObject> object) { inPlace_ = std::move(object); }
  IOleInPlaceActiveObject* activeObject() const { return active_.get(); }
  void disconnect() {
    events_ = {};
    inPlace_.reset();
    active_.reset();
  }
  void fitToHost() {
    if (!inPlace_) return;
    RECT rc;
    GetClientRect(host_, &rc);
    inPlace_->SetObjectRects(&rc, &rc);
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else if (iid == __uuidof(IDocHostUIHandler)) {
      *out = static_cast<IDocHostUIHandler*>(this);
    } else if (iid == __uuidof(IDocHostShowUI)) {
      *out = static_cast<IDocHostShowUI*>(this);
    } else if (iid == IID_IOleCommandTarget) {
      *out = static_cast<IOleCommandTarget*>(this);
    } else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
      *out = static_cast<IDispatch*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) std::unique_ptr<BrowserSite>{this};  // the last reference owned it
    return static_cast<ULONG>(left);
  }
  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the in-place site and the frame)
  STDMETHODIMP GetWindow(HWND* out) override {
    if (!out) return E_POINTER;
    *out = host_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !doc || !pos || !clip || !info) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(host_, pos);
    *clip = *pos;
    info->cb = sizeof(OLEINPLACEFRAMEINFO);
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(host_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    inPlace_.reset();
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT rect) override {
    if (inPlace_ && rect) inPlace_->SetObjectRects(rect, rect);
    return S_OK;
  }

  // IOleInPlaceUIWindow / IOleInPlaceFrame: no toolbars, menus or status bar
  // of the control's own.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
    active_ = ComPtr<IOleInPlaceActiveObject>::share(object);
    return S_OK;
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  // Shared by the frame and the document host.
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  // No menu, whatever asks for it: the right button, Shift+F10, the Menu key.
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
    if (!info) return E_POINTER;
    // No 3-D border: it would shift the page by its width, and the window's
    // cut-out is placed by page coordinates.
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_NO3DOUTERBORDER |
                    DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_THEME;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
  }
  // The engine's own menus and toolbars: the window has no room for them.
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_OK;
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  // S_OK keeps the engine from acting on a key. The host still hands F1 to
  // the page (BrowserHost::translateAccelerator).
  STDMETHODIMP TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override {
    if (!msg) return S_FALSE;
    // Only Backspace asks after the focus: the page's document is read then.
    const bool editable = msg->message == WM_KEYDOWN && msg->wParam == VK_BACK &&
                          events_.editableFocus && events_.editableFocus();
    return isEngineKey(*msg, editable) ? S_OK : S_FALSE;
  }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    if (key) *key = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }

  // IDocHostShowUI
  // The page's alert and confirm boxes: answered without showing anything,
  // with the answer that declines (confirm() gives false).
  STDMETHODIMP ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD type, LPOLESTR, DWORD,
                           LRESULT* result) override {
    if (result) *result = decliningAnswer(type);
    return S_OK;
  }
  STDMETHODIMP ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override { return S_OK; }

  // IOleCommandTarget: the engine asks whether to show a script error.
  STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT*) override {
    if (!group || *group != kDocHostCommandHandler) return OLECMDERR_E_UNKNOWNGROUP;
    for (ULONG i = 0; commands && i < count; ++i) {
      commands[i].cmdf = commands[i].cmdID == OLECMDID_SHOWSCRIPTERROR
                             ? static_cast<DWORD>(OLECMDF_SUPPORTED | OLECMDF_ENABLED)
                             : 0;
    }
    return S_OK;
  }
  STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) override {
    if (!group || *group != kDocHostCommandHandler) return OLECMDERR_E_UNKNOWNGROUP;
    if (command != OLECMDID_SHOWSCRIPTERROR) return OLECMDERR_E_NOTSUPPORTED;
    // Handled (no dialog), and the page's scripts keep running.
    if (out) {
      VariantClear(out);
      out->vt = VT_BOOL;
      out->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }

  // IDispatch: DWebBrowserEvents2 sink
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    if (!params) return S_OK;
    // Keep ourselves alive and the handlers stable while they run: they may
    // navigate, resize or even close the browser.
    ComPtr<BrowserSite> self = ComPtr<BrowserSite>::share(this);
    const BrowserSiteEvents events = events_;
    // Arguments arrive last first.
    switch (id) {
      case DISPID_NAVIGATECOMPLETE2:  // (pDisp, URL)
        if (params->cArgs >= 2 && events.navigated) events.navigated(textArgument(*params, 0));
        break;
      case DISPID_DOCUMENTCOMPLETE:  // (pDisp, URL)
        if (params->cArgs >= 2 && isPage(events, dispatchArgument(*params, 1)) &&
            events.pageComplete) {
          events.pageComplete(textArgument(*params, 0));
        }
        break;
      case DISPID_NEWWINDOW3:  // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
        if (params->cArgs >= 5) newWindow(events, *params);
        break;
      case DISPID_NAVIGATEERROR:  // (pDisp, URL, TargetFrameName, StatusCode, Cancel)
        if (params->cArgs >= 5 && isPage(events, dispatchArgument(*params, 4))) {
          // The engine's own error page would fall outside the cut-out.
          setCancel(*params, 0);
          if (events.unreachable) events.unreachable(textArgument(*params, 3));
        }
        break;
      default:
        break;
    }
    return S_OK;
  }

 private:
  ~BrowserSite() = default;
  friend struct std::default_delete<BrowserSite>;

  static LRESULT decliningAnswer(DWORD type) {
    switch (type & MB_TYPEMASK) {
      case MB_OK:
        return IDOK;
      case MB_YESNO:
        return IDNO;
      case MB_ABORTRETRYIGNORE:
        return IDIGNORE;
      default:
        return IDCANCEL;
    }
  }

  static bool isPage(const BrowserSiteEvents& events, IDispatch* frame) {
    return frame && events.isPage && events.isPage(frame);
  }

  // No window of the engine's own ever opens. A window the user asked for
  // (a click on a link or a button aimed at a new window) shows in this view
  // instead; what a script opens by itself, help windows and HTML dialogs
  // show nowhere.
  static void newWindow(const BrowserSiteEvents& events, const DISPPARAMS& params) {
    setCancel(params, 3);
    const auto flags = static_cast<DWORD>(numberArgument(params, 2));
    const bool byUser = (flags & (NWMF_USERINITED | NWMF_USERREQUESTED)) != 0;
    const bool engineWindow = (flags & (NWMF_SHOWHELP | NWMF_HTMLDIALOG)) != 0;
    const std::string url = textArgument(params, 0);
    if (byUser && !engineWindow && !url.empty() && events.openInView) events.openInView(url);
  }

  LONG refs_ = 1;
  HWND host_;
  BrowserSiteEvents events_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IOleInPlaceActiveObject> active_;
};

ComPtr<IOleClientSite> createBrowserSite(HWND host, BrowserSiteEvents events) {
  ComPtr<BrowserSite> site = BrowserSite::create(host, std::move(events));
  return ComPtr<IOleClientSite>::adopt(static_cast<IOleClientSite*>(site.detach()));
}

BrowserHost::BrowserHost(HWND host, NavigatedCallback onNavigated)
    : host_(host), onNavigated_(std::move(onNavigated)) {
  BrowserSiteEvents events;
  events.navigated = [this](const std::string& url) {
    if (onNavigated_) onNavigated_(url);
  };
  events.openInView = [this](const std::string& url) { navigate(url); };
  events.unreachable = [this](const std::string& url) { showUnreachable(url); };
  events.pageComplete = [this](const std::string& url) { pageComplete(url); };
  events.isPage = [this](IDispatch* frame) { return isPage(frame); };
  events.editableFocus = [this] { return editableFocus(); };
  site_ = BrowserSite::create(host, std::move(events));

  ComPtr<IOleObject> object;
  if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                              object.putVoid()))) {
    return;
  }
  object_ = object;
  IOleClientSite* site = static_cast<IOleClientSite*>(site_.get());
  if (FAILED(object_->SetClientSite(site))) {
    close();
    return;
  }
  OleSetContainedObject(object_.get(), TRUE);
  RECT rc;
  GetClientRect(host_, &rc);
  if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, host_, &rc))) {
    close();
    return;
  }
  site_->setInPlaceObject(object_.query<IOleInPlaceObject>(IID_IOleInPlaceObject));
  ComPtr<IConnectionPointContainer> points =
      object_.query<IConnectionPointContainer>(IID_IConnectionPointContainer);
  if (points && SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, events_.put()))) {
    if (FAILED(events_->Advise(static_cast<IDispatch*>(site_.get()), &eventsCookie_))) {
      events_.reset();
    }
  }
  browser_ = object_.query<IWebBrowser2>(IID_IWebBrowser2);
  if (!browser_) close();
}

BrowserHost::~BrowserHost() {
  close();
}

void BrowserHost::close() {
  if (events_) {
    events_->Unadvise(eventsCookie_);
    events_.reset();
  }
  // The site first: no event may reach this host once it starts to go.
  if (site_) site_->disconnect();
  browser_.reset();
  if (object_) {
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    object_.reset();
  }
  pendingPage_.reset();
}

bool BrowserHost::isPage(IDispatch* frame) const {
  if (!browser_ || !frame) return false;
  // COM identity: the same object answers IUnknown with the same pointer.
  ComPtr<IUnknown> mine = browser_.query<IUnknown>(IID_IUnknown);
  ComPtr<IUnknown> theirs;
  frame->QueryInterface(IID_IUnknown, theirs.putVoid());
  return mine && mine.get() == theirs.get();
}

namespace {

// Whether keys typed into `element` edit text there: a text field or text
// area that may be written to, or contenteditable content; inside a frame,
// the frame's own focused element.
bool editsText(ComPtr<IHTMLElement> element, int framesLeft) {
  if (!element) return false;
  Bstr tag;
  if (FAILED(element->get_tagName(tag.put()))) return false;
  const std::string name = tag.utf8();
  if (name == "INPUT" || name == "input") {
    ComPtr<IHTMLInputElement> input = element.query<IHTMLInputElement>(IID_IHTMLInputElement);
    if (!input) return false;
    VARIANT_BOOL readOnly = VARIANT_FALSE;
    input->get_readOnly(&readOnly);
    Bstr type;
    input->get_type(type.put());
    std::string kind = type.utf8();
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static constexpr std::string_view kNotText[] = {"button", "checkbox", "radio", "submit",
                                                    "reset",  "image",    "file",  "hidden",
                                                    "range",  "color"};
    for (std::string_view other : kNotText) {
      if (kind == other) return false;
    }
    return readOnly == VARIANT_FALSE;
  }
  if (name == "TEXTAREA" || name == "textarea") {
    ComPtr<IHTMLTextAreaElement> area =
        element.query<IHTMLTextAreaElement>(IID_IHTMLTextAreaElement);
    VARIANT_BOOL readOnly = VARIANT_FALSE;
    return area && SUCCEEDED(area->get_readOnly(&readOnly)) && readOnly == VARIANT_FALSE;
  }
  if ((name == "IFRAME" || name == "FRAME" || name == "iframe" || name == "frame") &&
      framesLeft > 0) {
    ComPtr<IHTMLFrameBase2> frame = element.query<IHTMLFrameBase2>(IID_IHTMLFrameBase2);
    ComPtr<IHTMLWindow2> window;
    ComPtr<IHTMLDocument2> document;
    ComPtr<IHTMLElement> inner;
    // Another site's frame refuses its document: then nothing counts as edited.
    if (!frame || FAILED(frame->get_contentWindow(window.put())) || !window ||
        FAILED(window->get_document(document.put())) || !document ||
        FAILED(document->get_activeElement(inner.put()))) {
      return false;
    }
    return editsText(inner, framesLeft - 1);
  }
  ComPtr<IHTMLElement3> editable = element.query<IHTMLElement3>(__uuidof(IHTMLElement3));
  VARIANT_BOOL content = VARIANT_FALSE;
  return editable && SUCCEEDED(editable->get_isContentEditable(&content)) &&
         content == VARIANT_TRUE;
}

}  // namespace

bool BrowserHost::editableFocus() {
  if (!browser_) return false;
  ComPtr<IDispatch> document;
  if (FAILED(browser_->get_Document(document.put())) || !document) return false;
  ComPtr<IHTMLDocument2> html = document.query<IHTMLDocument2>(IID_IHTMLDocument2);
  ComPtr<IHTMLElement> active;
  if (!html || FAILED(html->get_activeElement(active.put()))) return false;
  return editsText(active, 3);
}

void BrowserHost::showUnreachable(const std::string& url) {
  // The message goes into a blank document once that has loaded; about: pages
  // themselves never fail, so this cannot loop.
  if (url.rfind("about:", 0) == 0) return;
  pendingPage_ = unreachablePageHtml(url);
  navigate("about:blank");
}

void BrowserHost::pageComplete(const std::string& url) {
  if (!pendingPage_) return;
  // Any other page that completes first replaces the message's turn.
  const std::string page = std::exchange(pendingPage_, std::nullopt).value();
  if (url != "about:blank" || !browser_) return;
  ComPtr<IDispatch> document;
  if (FAILED(browser_->get_Document(document.put())) || !document) return;
  ComPtr<IHTMLDocument2> html = document.query<IHTMLDocument2>(IID_IHTMLDocument2);
  if (!html) return;
  // write() takes its text as an array of VARIANTs; destroying the array
  // frees the text in it.
  SAFEARRAY* parts = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  if (!parts) return;
  VARIANT* part = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(parts, reinterpret_cast<void**>(&part)))) {
    const std::wstring wide = widen(page);
    part->vt = VT_BSTR;
    part->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    SafeArrayUnaccessData(parts);
    html->write(parts);
    html->close();
  }
  SafeArrayDestroy(parts);
}

void BrowserHost::setSilent(bool silent) {
  if (browser_) browser_->put_Silent(silent ? VARIANT_TRUE : VARIANT_FALSE);
}

void BrowserHost::setOffline(bool offline) {
  if (browser_) browser_->put_Offline(offline ? VARIANT_TRUE : VARIANT_FALSE);
}

bool BrowserHost::navigate(std::string_view address) {
  if (!browser_) return false;
  if (isFailedSiteAddress(std::string(address))) {
    // The program's own site is not there: the message, without asking the
    // network for a port that stands for nothing.
    showUnreachable(std::string(address));
    return true;
  }
  Bstr url(address);
  Variant none;
  return SUCCEEDED(browser_->Navigate(url.get(), none.get(), none.get(), none.get(), none.get()));
}

std::string BrowserHost::locationUrl() {
  if (!browser_) return {};
  Bstr url;
  if (FAILED(browser_->get_LocationURL(url.put()))) return {};
  return url.utf8();
}

void BrowserHost::fitToHost() {
  if (site_) site_->fitToHost();
}

bool BrowserHost::translateAccelerator(MSG& msg) {
  if (msg.hwnd != host_ && !IsChild(host_, msg.hwnd)) return false;
  // Ctrl+wheel (and a touchpad's pinch, which Windows sends as one) zooms the page
  // out of the cut-out: it goes nowhere.
  if (msg.message == WM_MOUSEWHEEL && (GET_KEYSTATE_WPARAM(msg.wParam) & MK_CONTROL) != 0) {
    return true;
  }
  if (!site_ || !site_->activeObject()) return false;
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  const bool used = site_->activeObject()->TranslateAccelerator(&msg) == S_OK;
  // F1 is not the engine's (its help stays shut) but still the page's: the
  // document window gets it like any key.
  if (msg.wParam == VK_F1 && (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)) {
    return false;
  }
  return used;
}

}  // namespace zandrel::win32
