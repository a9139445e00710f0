#include "runtime/browser_site_win32.h"

#include <exdispid.h>
#include <shobjidl.h>

#include <memory>
#include <utility>

#include "runtime/browser_keys.h"

namespace zandrel::win32 {
namespace {

// The command group in which the engine asks its host about script errors.
// Spelled out here: the import library does not carry it.
constexpr GUID kDocHostCommandHandler = {
    0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

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

// Whether the engine's own handling of a key must not run: the commands every
// engine has (browser_keys.h), and what MSHTML adds: its help on F1, the
// caret-browsing question on F7, its developer tools on F12, Alt+Home for the
// home page, and a command on nearly every Ctrl+letter (history, favourites,
// new tab...). The editing keys Ctrl+A/C/V/X/Y/Z stay the page's, and
// Backspace deletes where text is edited.
bool isEngineKey(const MSG& msg, bool editableFocus) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
  const auto key = static_cast<int>(msg.wParam);
  // WM_SYSKEYDOWN says in its context bit whether Alt is down.
  const bool alt = (msg.message == WM_SYSKEYDOWN && (msg.lParam & (1 << 29)) != 0) || held(VK_MENU);
  const bool ctrl = held(VK_CONTROL);
  const int modifiers = (alt ? kBrowserKeyAlt : 0) | (ctrl ? kBrowserKeyCtrl : 0) |
                        (held(VK_SHIFT) ? kBrowserKeyShift : 0);
  if (key == VK_BACK) return !editableFocus;
  if (IsBrowserCommandKey(key, modifiers)) return true;
  if (key == VK_F1 || key == VK_F7 || key == VK_F12) return true;
  if (key == VK_HOME) return alt;
  // Ctrl+Alt is AltGr on many keyboards: it types characters.
  if (!ctrl || alt || key < 'A' || key > 'Z') return false;
  return key != 'A' && key != 'C' && key != 'V' && key != 'X' && key != 'Y' && key != 'Z';
}

}  // namespace

STDMETHODIMP BrowserSite::TranslateAccelerator(LPMSG msg, const GUID*, DWORD) {
  if (!msg) return S_FALSE;
  // Only Backspace asks after the focus: the page's document is read then.
  const bool editable = msg->message == WM_KEYDOWN && msg->wParam == VK_BACK &&
                        events_.editableFocus && events_.editableFocus();
  return isEngineKey(*msg, editable) ? S_OK : S_FALSE;
}

ComPtr<BrowserSite> BrowserSite::create(HWND host, BrowserSiteEvents events) {
  // COM reference counting owns the object from here on (see Release).
  return ComPtr<BrowserSite>::adopt(
      std::make_unique<BrowserSite>(host, std::move(events)).release());
}

void BrowserSite::disconnect() {
  events_ = {};
  inPlace_.reset();
  active_.reset();
}

void BrowserSite::fitToHost() {
  if (!inPlace_) return;
  RECT rc;
  GetClientRect(host_, &rc);
  inPlace_->SetObjectRects(&rc, &rc);
}

STDMETHODIMP BrowserSite::QueryInterface(REFIID iid, void** out) {
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

STDMETHODIMP_(ULONG) BrowserSite::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) std::unique_ptr<BrowserSite>{this};  // the last reference owned it
  return static_cast<ULONG>(left);
}

STDMETHODIMP BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetContainer(IOleContainer** out) {
  if (out) *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP BrowserSite::GetWindow(HWND* out) {
  if (!out) return E_POINTER;
  *out = host_;
  return S_OK;
}

STDMETHODIMP BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                           LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
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

STDMETHODIMP BrowserSite::OnInPlaceDeactivate() {
  inPlace_.reset();
  return S_OK;
}

STDMETHODIMP BrowserSite::OnPosRectChange(LPCRECT rect) {
  if (inPlace_ && rect) inPlace_->SetObjectRects(rect, rect);
  return S_OK;
}

STDMETHODIMP BrowserSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
  active_ = ComPtr<IOleInPlaceActiveObject>::share(object);
  return S_OK;
}

STDMETHODIMP BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  // No 3-D border: it would shift the page by its width, and the window's
  // cut-out is placed by page coordinates.
  info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_NO3DOUTERBORDER |
                  DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_THEME;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

STDMETHODIMP BrowserSite::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*,
                                 IOleInPlaceFrame*, IOleInPlaceUIWindow*) {
  return S_OK;
}

STDMETHODIMP BrowserSite::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return S_FALSE;
}

STDMETHODIMP BrowserSite::GetDropTarget(IDropTarget*, IDropTarget** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetExternal(IDispatch** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::TranslateUrl(DWORD, LPWSTR, LPWSTR* out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

STDMETHODIMP BrowserSite::FilterDataObject(IDataObject*, IDataObject** out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

STDMETHODIMP BrowserSite::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD type, LPOLESTR, DWORD,
                                      LRESULT* result) {
  if (result) *result = decliningAnswer(type);
  return S_OK;
}

STDMETHODIMP BrowserSite::QueryStatus(const GUID* group, ULONG count, OLECMD* commands,
                                      OLECMDTEXT*) {
  if (!group || *group != kDocHostCommandHandler) return OLECMDERR_E_UNKNOWNGROUP;
  for (ULONG i = 0; commands && i < count; ++i) {
    commands[i].cmdf = commands[i].cmdID == OLECMDID_SHOWSCRIPTERROR
                           ? static_cast<DWORD>(OLECMDF_SUPPORTED | OLECMDF_ENABLED)
                           : 0;
  }
  return S_OK;
}

STDMETHODIMP BrowserSite::Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) {
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

STDMETHODIMP BrowserSite::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

STDMETHODIMP BrowserSite::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                 EXCEPINFO*, UINT*) {
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

LRESULT BrowserSite::decliningAnswer(DWORD type) {
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

bool BrowserSite::isPage(const BrowserSiteEvents& events, IDispatch* frame) {
  return frame && events.isPage && events.isPage(frame);
}

void BrowserSite::newWindow(const BrowserSiteEvents& events, const DISPPARAMS& params) {
  setCancel(params, 3);
  const auto flags = static_cast<DWORD>(numberArgument(params, 2));
  const bool byUser = (flags & (NWMF_USERINITED | NWMF_USERREQUESTED)) != 0;
  const bool engineWindow = (flags & (NWMF_SHOWHELP | NWMF_HTMLDIALOG)) != 0;
  const std::string url = textArgument(params, 0);
  if (byUser && !engineWindow && !url.empty() && events.openInView) events.openInView(url);
}

}  // namespace zandrel::win32
