#include "runtime/browser_host_win32.h"

#include <exdispid.h>

#include <memory>

namespace zandrel::win32 {

// The container side of the embedding: client site, in-place site and frame
// for the control, and the sink of its DWebBrowserEvents2. Reference counted
// like any COM object; the host drops its references in close().
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDispatch {
 public:
  BrowserSite(HWND host, BrowserHost::NavigatedCallback onNavigated)
      : host_(host), onNavigated_(std::move(onNavigated)) {}

  static ComPtr<BrowserSite> create(HWND host, BrowserHost::NavigatedCallback onNavigated) {
    // COM reference counting owns the object from here on (see Release).
    return ComPtr<BrowserSite>::adopt(
        std::make_unique<BrowserSite>(host, std::move(onNavigated)).release());
  }

  void setInPlaceObject(ComPtr<IOleInPlaceObject> object) { inPlace_ = std::move(object); }
  IOleInPlaceActiveObject* activeObject() const { return active_.get(); }
  void disconnect() {
    onNavigated_ = nullptr;
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
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

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
    if (id != DISPID_NAVIGATECOMPLETE2 || !params || params->cArgs < 2) return S_OK;
    // NavigateComplete2(pDisp, URL): arguments arrive last first.
    const VARIANT& arg = params->rgvarg[0];
    const VARIANT* url = &arg;
    if (arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal) url = arg.pvarVal;
    std::string address;
    if (url->vt == VT_BSTR && url->bstrVal) {
      address = narrow(std::wstring_view(url->bstrVal, SysStringLen(url->bstrVal)));
    } else if (url->vt == (VT_BYREF | VT_BSTR) && url->pbstrVal && *url->pbstrVal) {
      address = narrow(std::wstring_view(*url->pbstrVal, SysStringLen(*url->pbstrVal)));
    }
    // Keep ourselves alive and the callback stable while the handler runs:
    // it may navigate, resize or even close the browser.
    ComPtr<BrowserSite> self = ComPtr<BrowserSite>::share(this);
    BrowserHost::NavigatedCallback callback = onNavigated_;
    if (callback) callback(address);
    return S_OK;
  }

 private:
  ~BrowserSite() = default;
  friend struct std::default_delete<BrowserSite>;

  LONG refs_ = 1;
  HWND host_;
  BrowserHost::NavigatedCallback onNavigated_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IOleInPlaceActiveObject> active_;
};

BrowserHost::BrowserHost(HWND host, NavigatedCallback onNavigated)
    : host_(host), site_(BrowserSite::create(host, std::move(onNavigated))) {
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
  browser_.reset();
  if (object_) {
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    object_.reset();
  }
  if (site_) site_->disconnect();
}

void BrowserHost::setSilent(bool silent) {
  if (browser_) browser_->put_Silent(silent ? VARIANT_TRUE : VARIANT_FALSE);
}

void BrowserHost::setOffline(bool offline) {
  if (browser_) browser_->put_Offline(offline ? VARIANT_TRUE : VARIANT_FALSE);
}

bool BrowserHost::navigate(std::string_view address) {
  if (!browser_) return false;
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
  if (!site_ || !site_->activeObject()) return false;
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  if (msg.hwnd != host_ && !IsChild(host_, msg.hwnd)) return false;
  return site_->activeObject()->TranslateAccelerator(&msg) == S_OK;
}

}  // namespace zandrel::win32
