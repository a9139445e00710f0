#pragma once
// The WebBrowser control's client site: every question the engine asks its
// container, answered so that nothing of the engine's own (dialogs, menus,
// help, new windows, error pages) ever shows, and its events passed on.

#include <windows.h>

#include <docobj.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <ole2.h>

#include <functional>
#include <memory>
#include <string>

#include "runtime/com_win32.h"

namespace zandrel::win32 {

// What the container does for the control. Each runs on the control's thread,
// inside the event that asks for it.
struct BrowserSiteEvents {
  // NavigateComplete2 (frames included): the address of that navigation.
  std::function<void(const std::string& url)> navigated;
  // A new window the user asked for (a click on a link aimed at one): its
  // address, to be shown in this view instead.
  std::function<void(const std::string& url)> openInView;
  // The page itself (not a frame inside it) could not be loaded.
  std::function<void(const std::string& url)> unreachable;
  // DocumentComplete of the page itself.
  std::function<void(const std::string& url)> pageComplete;
  // True when `frame` (an event's pDisp) is the browser itself rather than a
  // frame inside its page.
  std::function<bool(IDispatch* frame)> isPage;
  // True when the page's keyboard focus is where text is typed (a text field,
  // a text area, editable content): Backspace then deletes there.
  std::function<bool()> editableFocus;
};

// The client site of one control: IOleClientSite, the in-place site and
// frame, the document host (IDocHostUIHandler, IDocHostShowUI,
// IOleCommandTarget) and the DWebBrowserEvents2 sink (IDispatch).
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDocHostUIHandler,
                          public IDocHostShowUI,
                          public IOleCommandTarget,
                          public IDispatch {
 public:
  BrowserSite(HWND host, BrowserSiteEvents events) : host_(host), events_(std::move(events)) {}

  static ComPtr<BrowserSite> create(HWND host, BrowserSiteEvents events);

  void setInPlaceObject(ComPtr<IOleInPlaceObject> object) { inPlace_ = std::move(object); }
  IOleInPlaceActiveObject* activeObject() const { return active_.get(); }
  void disconnect();
  void fitToHost();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override;
  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override;
  STDMETHODIMP GetContainer(IOleContainer** out) override;
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the in-place site and the frame)
  STDMETHODIMP GetWindow(HWND* out) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override;
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT rect) override;

  // IOleInPlaceUIWindow / IOleInPlaceFrame: no toolbars, menus or status bar
  // of the control's own.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override;
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
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  // The engine's own menus and toolbars: the window has no room for them.
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override;
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  // S_OK keeps the engine from acting on a key. The host still hands F1 to
  // the page (BrowserHost::translateAccelerator).
  STDMETHODIMP TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override;
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override;
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override;
  STDMETHODIMP GetExternal(IDispatch** out) override;
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override;
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override;

  // IDocHostShowUI
  // The page's alert and confirm boxes: answered without showing anything,
  // with the answer that declines (confirm() gives false).
  STDMETHODIMP ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD type, LPOLESTR, DWORD,
                           LRESULT* result) override;
  STDMETHODIMP ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override { return S_OK; }

  // IOleCommandTarget: the engine asks whether to show a script error.
  STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT*) override;
  STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) override;

  // IDispatch: DWebBrowserEvents2 sink
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override;

 private:
  ~BrowserSite() = default;
  friend struct std::default_delete<BrowserSite>;

  static LRESULT decliningAnswer(DWORD type);

  static bool isPage(const BrowserSiteEvents& events, IDispatch* frame);

  // No window of the engine's own ever opens. A window the user asked for
  // (a click on a link or a button aimed at a new window) shows in this view
  // instead; what a script opens by itself, help windows and HTML dialogs
  // show nowhere.
  static void newWindow(const BrowserSiteEvents& events, const DISPPARAMS& params);

  LONG refs_ = 1;
  HWND host_;
  BrowserSiteEvents events_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IOleInPlaceActiveObject> active_;
};

}  // namespace zandrel::win32
