#include "hooks/mouse_filter_gtk.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "runtime/document_window_gtk.h"

namespace zandrel {

namespace {

std::string focusClass() {
  std::string name;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item != nullptr; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    if (!gtk_window_is_active(window)) continue;
    if (GtkWidget* focus = gtk_window_get_focus(window)) name = G_OBJECT_TYPE_NAME(focus);
    break;
  }
  g_list_free(toplevels);
  return name;
}

bool swallowsRightRelease() {
  return SwallowsMouseEvent(kRightButtonUp, focusClass(), kGtkDocumentWindowClass);
}

bool isRightButton(const GdkEvent* event, GdkEventType type) {
  return event != nullptr && event->type == type && event->button.button == 3;
}

class GtkMouseHookPlatform;
// The platform whose filter GDK's event handler and the browser's menu
// handler consult. UI thread only.
GtkMouseHookPlatform* activePlatform = nullptr;

class GtkMouseHookPlatform final : public MouseHookPlatform {
 public:
  ~GtkMouseHookPlatform() override {
    if (activePlatform != this) return;
    activePlatform = nullptr;
    // GTK's own dispatch again.
    gdk_event_handler_set(&GtkMouseHookPlatform::deliver, nullptr, nullptr);
  }

  MouseFilterInstallation install(WindowHandle browser) override {
    auto* view = reinterpret_cast<GtkWidget*>(browser);
    if (view == nullptr || !WEBKIT_IS_WEB_VIEW(view)) return {};
    if (activePlatform != nullptr && activePlatform != this) return {};
    activePlatform = this;
    // Every widget of this process lives on the UI thread, whose events GDK
    // hands to one function: this filter's.
    gdk_event_handler_set(&GtkMouseHookPlatform::dispatch, nullptr, nullptr);
    MouseFilterInstallation installation;
    installation.hook = g_signal_connect(view, "context-menu",
                                         G_CALLBACK(&GtkMouseHookPlatform::onContextMenu), nullptr);
    return installation;
  }

 private:
  static void deliver(GdkEvent* event, gpointer /*data*/) { gtk_main_do_event(event); }

  static void dispatch(GdkEvent* event, gpointer /*data*/) {
    if (isRightButton(event, GDK_BUTTON_RELEASE) && swallowsRightRelease()) return;
    gtk_main_do_event(event);
  }

  // WebKit opens its menu on the right-button press, which the filter passes.
  // The menu that press would open is refused whenever the filter would
  // swallow the release that belongs to it: same rule, same decision.
  static gboolean onContextMenu(WebKitWebView* /*view*/, WebKitContextMenu* menu, GdkEvent* event,
                                WebKitHitTestResult* /*hit*/, gpointer /*data*/) {
    if (activePlatform == nullptr) return FALSE;
    if (event == nullptr) event = webkit_context_menu_get_event(menu);
    // A menu opened from the keyboard is not a mouse event's business.
    return isRightButton(event, GDK_BUTTON_PRESS) && swallowsRightRelease() ? TRUE : FALSE;
  }
};

}  // namespace

std::unique_ptr<MouseHookPlatform> createGtkMouseHookPlatform() {
  return std::make_unique<GtkMouseHookPlatform>();
}

}  // namespace zandrel
