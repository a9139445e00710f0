#include "hooks/mouse_filter_gtk.h"

#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <vector>

#include "runtime/document_window_gtk.h"

namespace zandrel {

namespace {

// The classic mouse message numbers the filters decide on.
constexpr std::uintptr_t kMouseMove = 0x200;
constexpr std::uintptr_t kLeftDown = 0x201, kLeftUp = 0x202, kLeftDouble = 0x203;
constexpr std::uintptr_t kRightDown = 0x204, kRightDouble = 0x206;
constexpr std::uintptr_t kMiddleDown = 0x207, kMiddleUp = 0x208, kMiddleDouble = 0x209;
constexpr std::uintptr_t kWheel = 0x20A;
constexpr std::uintptr_t kExtraDown = 0x20B, kExtraUp = 0x20C, kExtraDouble = 0x20D;
constexpr std::uintptr_t kHorizontalWheel = 0x20E;
constexpr int kHookAction = 0;

std::uintptr_t buttonMessage(guint button, std::uintptr_t left, std::uintptr_t right,
                             std::uintptr_t middle, std::uintptr_t extra) {
  switch (button) {
    case 1:
      return left;
    case 2:
      return middle;
    case 3:
      return right;
    case 8:
    case 9:
      return extra;
    default:
      return 0;
  }
}

// The message a GDK event is, 0 when it is no mouse event.
std::uintptr_t mouseMessage(const GdkEvent* event) {
  switch (event->type) {
    case GDK_MOTION_NOTIFY:
      return kMouseMove;
    case GDK_BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:  // the classic messages know no triple click
      return buttonMessage(event->button.button, kLeftDown, kRightDown, kMiddleDown, kExtraDown);
    case GDK_2BUTTON_PRESS:
      return buttonMessage(event->button.button, kLeftDouble, kRightDouble, kMiddleDouble,
                           kExtraDouble);
    case GDK_BUTTON_RELEASE:
      return buttonMessage(event->button.button, kLeftUp, kRightButtonUp, kMiddleUp, kExtraUp);
    case GDK_SCROLL: {
      const GdkScrollDirection direction = event->scroll.direction;
      if (direction == GDK_SCROLL_LEFT || direction == GDK_SCROLL_RIGHT) return kHorizontalWheel;
      if (direction == GDK_SCROLL_SMOOTH && event->scroll.delta_y == 0 &&
          event->scroll.delta_x != 0) {
        return kHorizontalWheel;
      }
      return kWheel;
    }
    default:
      return 0;
  }
}

class GtkMouseHookPlatform;
// The platform whose hooks GDK's event handler and the web views' menu
// handlers consult. UI thread only.
GtkMouseHookPlatform* activePlatform = nullptr;

class GtkMouseHookPlatform final : public MouseHookPlatform {
 public:
  GtkMouseHookPlatform() : uiThread_(static_cast<std::uint32_t>(gettid())) {}

  ~GtkMouseHookPlatform() override {
    if (activePlatform != this) return;
    activePlatform = nullptr;
    // GTK's own dispatch again; the filters die with this object.
    gdk_event_handler_set(&GtkMouseHookPlatform::deliver, nullptr, nullptr);
    if (mapHook_ != 0) g_signal_remove_emission_hook(mapSignal_, mapHook_);
  }

  std::uint32_t windowThread(WindowHandle window) override {
    // All GTK widgets belong to the thread that runs GTK.
    return window == 0 ? 0 : uiThread_;
  }

  std::uint32_t windowProcess(WindowHandle window) override {
    return window == 0 ? 0 : static_cast<std::uint32_t>(getpid());
  }

  HookHandle installMouseHook(std::uint32_t thread, MouseFilterProc filter) override {
    // Only the GTK thread's events can be shown to a filter.
    if (filter == nullptr || thread == 0 || thread != uiThread_) return 0;
    if (activePlatform != nullptr && activePlatform != this) return 0;
    const HookHandle handle = ++lastHandle_;
    chain_.push_back({handle, filter});
    if (activePlatform == nullptr) {
      activePlatform = this;
      gdk_event_handler_set(&GtkMouseHookPlatform::dispatch, nullptr, nullptr);
      watchWebViews();
    }
    return handle;
  }

  std::string focusClassName() override {
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

  std::intptr_t callNextHook(HookHandle hook, int code, std::uintptr_t message,
                             std::intptr_t event) override {
    // The hook installed before `hook` is next; after the oldest one GTK
    // delivers the event unless a hook said otherwise.
    for (std::size_t i = chain_.size(); i-- > 1;) {
      if (chain_[i].handle == hook) return chain_[i - 1].filter(code, message, event);
    }
    return 0;
  }

  std::string documentWindowClass() const override { return std::string(kGtkDocumentWindowClass); }

 private:
  struct Hook {
    HookHandle handle;
    MouseFilterProc filter;
  };

  // Runs the chain from the newest hook; non-zero keeps the event from GTK.
  std::intptr_t runChain(std::uintptr_t message, GdkEvent* event) {
    if (chain_.empty()) return 0;
    const MouseFilterProc newest = chain_.back().filter;
    return newest(kHookAction, message, reinterpret_cast<std::intptr_t>(event));
  }

  static void deliver(GdkEvent* event, gpointer /*data*/) { gtk_main_do_event(event); }

  static void dispatch(GdkEvent* event, gpointer /*data*/) {
    const std::uintptr_t message = mouseMessage(event);
    if (message != 0 && activePlatform != nullptr &&
        activePlatform->runChain(message, event) != 0) {
      return;
    }
    gtk_main_do_event(event);
  }

  // WebKit opens its menu on the right-button press, which the filters pass.
  // The menu that press would open is refused whenever the filters would
  // swallow the release that belongs to it: same focus test, same decision.
  static gboolean onContextMenu(WebKitWebView* /*view*/, WebKitContextMenu* menu, GdkEvent* event,
                                WebKitHitTestResult* /*hit*/, gpointer /*data*/) {
    if (activePlatform == nullptr) return FALSE;
    if (event == nullptr) event = webkit_context_menu_get_event(menu);
    // A menu opened from the keyboard is not a mouse event's business.
    if (event == nullptr || event->type != GDK_BUTTON_PRESS || event->button.button != 3) {
      return FALSE;
    }
    return activePlatform->runChain(kRightButtonUp, event) != 0 ? TRUE : FALSE;
  }

  static void connectWebView(GtkWidget* widget) {
    static const char kConnected[] = "zandrel-mouse-filter";
    if (!WEBKIT_IS_WEB_VIEW(widget) || g_object_get_data(G_OBJECT(widget), kConnected)) return;
    g_object_set_data(G_OBJECT(widget), kConnected, GINT_TO_POINTER(1));
    g_signal_connect(widget, "context-menu", G_CALLBACK(&GtkMouseHookPlatform::onContextMenu),
                     nullptr);
  }

  static void connectWebViewsBelow(GtkWidget* widget, gpointer /*data*/) {
    connectWebView(widget);
    if (GTK_IS_CONTAINER(widget)) {
      gtk_container_forall(GTK_CONTAINER(widget), &GtkMouseHookPlatform::connectWebViewsBelow,
                           nullptr);
    }
  }

  static gboolean onWidgetMapped(GSignalInvocationHint* /*hint*/, guint count, const GValue* params,
                                 gpointer /*data*/) {
    if (count > 0) {
      if (GObject* instance = static_cast<GObject*>(g_value_get_object(&params[0]))) {
        if (GTK_IS_WIDGET(instance)) connectWebView(GTK_WIDGET(instance));
      }
    }
    return TRUE;
  }

  // The web views that exist now, and any that is shown later.
  void watchWebViews() {
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
      connectWebViewsBelow(GTK_WIDGET(item->data), nullptr);
    }
    g_list_free(toplevels);
    mapSignal_ = g_signal_lookup("map", GTK_TYPE_WIDGET);
    if (mapSignal_ != 0) {
      mapHook_ = g_signal_add_emission_hook(mapSignal_, 0, &GtkMouseHookPlatform::onWidgetMapped,
                                            nullptr, nullptr);
    }
  }

  std::uint32_t uiThread_;
  HookHandle lastHandle_ = 0;
  std::vector<Hook> chain_;
  guint mapSignal_ = 0;
  gulong mapHook_ = 0;
};

}  // namespace

std::unique_ptr<MouseHookPlatform> createGtkMouseHookPlatform() {
  return std::make_unique<GtkMouseHookPlatform>();
}

}  // namespace zandrel
