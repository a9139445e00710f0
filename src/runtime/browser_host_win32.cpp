#include "runtime/browser_host_win32.h"

#include <docobj.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <shobjidl.h>

#include <memory>
#include <string_view>
#include <utility>

#include "runtime/browser_keys.h"
#include "runtime/browser_site_win32.h"
#include "runtime/error_page.h"
#include "runtime/text_units.h"

namespace zandrel::win32 {

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
  if (equalsIgnoringAsciiCase(name, "input")) {
    ComPtr<IHTMLInputElement> input = element.query<IHTMLInputElement>(IID_IHTMLInputElement);
    if (!input) return false;
    VARIANT_BOOL readOnly = VARIANT_FALSE;
    input->get_readOnly(&readOnly);
    Bstr type;
    input->get_type(type.put());
    const std::string kind = asciiLowered(type.utf8());
    static constexpr std::string_view kNotText[] = {"button", "checkbox", "radio", "submit",
                                                    "reset",  "image",    "file",  "hidden",
                                                    "range",  "color"};
    for (std::string_view other : kNotText) {
      if (kind == other) return false;
    }
    return readOnly == VARIANT_FALSE;
  }
  if (equalsIgnoringAsciiCase(name, "textarea")) {
    ComPtr<IHTMLTextAreaElement> area =
        element.query<IHTMLTextAreaElement>(IID_IHTMLTextAreaElement);
    VARIANT_BOOL readOnly = VARIANT_FALSE;
    return area && SUCCEEDED(area->get_readOnly(&readOnly)) && readOnly == VARIANT_FALSE;
  }
  if ((equalsIgnoringAsciiCase(name, "iframe") || equalsIgnoringAsciiCase(name, "frame")) &&
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
  if (msg.message == WM_MOUSEWHEEL &&
      IsBrowserZoomWheel((GET_KEYSTATE_WPARAM(msg.wParam) & MK_CONTROL) != 0 ? kBrowserKeyCtrl
                                                                             : 0)) {
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
