#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "runtime/browser_keys_gtk.h"
#include "runtime/ui_dispatcher_gtk.h"
#include "runtime/window_layer_impl_gtk.h"

namespace zandrel {
namespace gtk_layer {
namespace {

// How long the window manager may take to tell the frame size before the
// window is shown; openbox answers at once.
constexpr int kFrameRequestTimeoutMs = 500;

}  // namespace

GtkWindowLayer::~GtkWindowLayer() {
  ui_->close();
  closeOffThreadBoxes();
  destroyWindow();
  unwatchSignals();
}

bool GtkWindowLayer::initialise() {
  if (gtkReady_) return true;
  // The hotkey, mouse and frame code speak X11; a Wayland session runs the
  // program through XWayland. Once per process: GDK keeps (and never frees)
  // each setting.
  static std::once_flag backends;
  std::call_once(backends, [] { gdk_set_allowed_backends("x11"); });
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "zandrel: cannot open the display\n");
    return false;
  }
  gtkReady_ = true;
  bindToGlibMainContext(ui_);
  watchSignals();
  watchDisplay();
  return true;
}

// ---------------------------------------------------------------------------
// The window

bool GtkWindowLayer::loadWindow(const WindowDesign& design) {
  if (!gtkReady_ || window_ != nullptr || !ui_->onUiThread()) return false;
  design_ = design;
  if (!buildWindow()) {
    destroyWindow();
    return false;
  }
  raise(design_.name, EventKind::CreationComplete);
  return true;
}

bool GtkWindowLayer::buildWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (window_ == nullptr) return false;
  gtk_window_set_title(GTK_WINDOW(window_), design_.caption.c_str());
  gtk_window_set_resizable(GTK_WINDOW(window_), design_.resizable ? TRUE : FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_NORMAL);
  gtk_widget_add_events(window_, GDK_PROPERTY_CHANGE_MASK);
  g_signal_connect(window_, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     // The close box ends the program with code 0; the window
                     // goes when the message loop has finished.
                     static_cast<GtkWindowLayer*>(self)->endProgram(0);
                     return TRUE;
                   }),
                   this);
  g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget* widget, gpointer self) {
                     static_cast<GtkWindowLayer*>(self)->forgetWidget(widget);
                   }),
                   this);
  g_signal_connect(
      window_, "window-state-event",
      G_CALLBACK(+[](GtkWidget* widget, GdkEventWindowState* event, gpointer self) -> gboolean {
        // Window managers that do not honour the fixed size hints
        // may still maximise or fullscreen it: undo that.
        if (static_cast<GtkWindowLayer*>(self)->design_.resizable) return FALSE;
        if ((event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0) {
          gtk_window_unmaximize(GTK_WINDOW(widget));
        }
        if ((event->new_window_state & GDK_WINDOW_STATE_FULLSCREEN) != 0) {
          gtk_window_unfullscreen(GTK_WINDOW(widget));
        }
        return FALSE;
      }),
      this);
  g_signal_connect(window_, "property-notify-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventProperty* event, gpointer self) -> gboolean {
                     if (event->atom == gdk_atom_intern_static_string("_NET_FRAME_EXTENTS")) {
                       static_cast<GtkWindowLayer*>(self)->onFrameExtentsChanged();
                     }
                     return FALSE;
                   }),
                   this);
  // The browser's own keys (reload, back, zoom, its dialogs) go no further
  // than the window.
  keepBrowserCommandsFromEngine(window_);
  registerHandle(design_.name, window_);

  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window_), column);
  if (!design_.menus.empty()) {
    menuBar_ = buildMenuBar();
    gtk_box_pack_start(GTK_BOX(column), menuBar_, FALSE, FALSE, 0);
  }
  // The client area is a GtkLayout: it clips what lies outside it, so the
  // labels placed above it (negative top) exist but are never drawn, and a
  // picture box inside it is cut at the window's bottom edge when the window
  // is made lower than the picture box.
  client_ = gtk_layout_new(nullptr, nullptr);
  gtk_box_pack_start(GTK_BOX(column), client_, TRUE, TRUE, 0);

  for (const ControlDesign& control : design_.controls) {
    if (!addControl(control)) return false;
  }

  gtk_widget_realize(window_);
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  if (gdkWindow == nullptr) return false;
  // A fixed frame: no resize handles and no maximise button or command; the
  // title bar keeps its system menu, the minimise button and the close box.
  int functions = GDK_FUNC_MOVE | GDK_FUNC_CLOSE;
  int decorations = GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU;
  if (design_.minimizeBox) {
    functions |= GDK_FUNC_MINIMIZE;
    decorations |= GDK_DECOR_MINIMIZE;
  }
  if (design_.maximizeBox) {
    functions |= GDK_FUNC_MAXIMIZE;
    decorations |= GDK_DECOR_MAXIMIZE;
  }
  if (design_.resizable) {
    functions |= GDK_FUNC_RESIZE;
    decorations |= GDK_DECOR_RESIZEH;
  }
  gdk_window_set_functions(gdkWindow, static_cast<GdkWMFunction>(functions));
  gdk_window_set_decorations(gdkWindow, static_cast<GdkWMDecoration>(decorations));

  frame_ = requestFrameExtents(gdkWindow, kFrameRequestTimeoutMs);
  if (menuBar_ != nullptr) {
    // An assistive tool (screen reader, test driver) may click an item of a
    // menu that was never opened: GTK then grabs the input for a menu
    // without a window and prints CRITICALs. Realised now, every menu has one.
    GList* items = gtk_container_get_children(GTK_CONTAINER(menuBar_));
    for (GList* item = items; item != nullptr; item = item->next) {
      GtkWidget* list = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item->data));
      if (list == nullptr) continue;
      gtk_widget_realize(gtk_widget_get_toplevel(list));
      gtk_widget_realize(list);
      // After such a click GTK closes the item's menu, looking for it among
      // the item's accessible parents. It gives a submenu's items the menu
      // item above as parent, so the search climbs past the window to the
      // application's object, which is no widget's (more CRITICALs). With
      // their own menu as parent, the search ends there.
      AtkObject* menu = gtk_widget_get_accessible(list);
      GList* entries = gtk_container_get_children(GTK_CONTAINER(list));
      for (GList* entry = entries; entry != nullptr; entry = entry->next) {
        atk_object_set_parent(gtk_widget_get_accessible(GTK_WIDGET(entry->data)), menu);
      }
      g_list_free(entries);
    }
    g_list_free(items);
    int minimum = 0;
    gtk_widget_get_preferred_height(menuBar_, &minimum, &menuHeight_);
    g_signal_connect(menuBar_, "size-allocate",
                     G_CALLBACK(+[](GtkWidget*, GdkRectangle* allocation, gpointer self) {
                       static_cast<GtkWindowLayer*>(self)->onMenuBarAllocated(allocation->height);
                     }),
                     this);
  }
  outerWidth_ = design_.width;
  outerHeight_ = design_.height;
  applyGeometry();

  if (design_.centred) {
    // Outer coordinates: with the default north-west gravity the window
    // manager puts the frame's top-left corner at the given point.
    const ScreenPoint corner = centredInWorkArea(openingWorkArea(), outerWidth_, outerHeight_);
    gtk_window_move(GTK_WINDOW(window_), corner.x, corner.y);
  }
  return true;
}

GtkWidget* GtkWindowLayer::buildMenuBar() {
  GtkWidget* bar = gtk_menu_bar_new();
  // A menu bar as low as the classic one (about 20 pixels) rather than the theme's
  // 28: the client area, and so the visible cut-out of the page, comes out as
  // close as possible to the designed 960 x 588 within the same outer size.
  gtk_widget_set_name(bar, "zandrel-menu-bar");
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css,
                                  "#zandrel-menu-bar { padding: 0; }"
                                  "#zandrel-menu-bar > menuitem { padding: 0 7px; }",
                                  -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(bar), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  for (const MenuDesign& menu : design_.menus) {
    // _with_label, not _with_mnemonic: captions are shown as they are written.
    GtkWidget* top = gtk_menu_item_new_with_label(menu.caption.c_str());
    if (!menu.items.empty()) {
      GtkWidget* list = gtk_menu_new();
      for (const std::string& caption : menu.items) {
        GtkWidget* item = gtk_menu_item_new_with_label(caption.c_str());
        menuHooks_.push_back(std::make_unique<MenuHook>(MenuHook{this, caption}));
        g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
                           auto* hook = static_cast<MenuHook*>(data);
                           hook->layer->menuSelected(hook->source);
                         }),
                         menuHooks_.back().get());
        gtk_menu_shell_append(GTK_MENU_SHELL(list), item);
      }
      gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), list);
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);
  }
  return bar;
}

bool GtkWindowLayer::addControl(const ControlDesign& design) {
  if (find(design.name) != nullptr || design.name == design_.name) {
    std::fprintf(stderr, "zandrel: control %s is designed twice\n", design.name.c_str());
    return false;
  }
  GtkWidget* parent = nullptr;
  if (design.parent == design_.name) {
    parent = client_;
  } else if (Control* container = find(design.parent);
             container != nullptr && container->design.kind == ControlKind::PicBox) {
    parent = container->widget;
  }
  if (parent == nullptr) {
    std::fprintf(stderr, "zandrel: control %s has no container %s\n", design.name.c_str(),
                 design.parent.c_str());
    return false;
  }

  controls_.push_back(std::make_unique<Control>());
  Control& control = *controls_.back();
  control.design = design;
  switch (design.kind) {
    case ControlKind::PicBox:
      // GtkLayout, unlike GtkFixed, clips its children to its own area: the
      // oversized browser inside shows only the designed cut-out.
      control.widget = gtk_layout_new(nullptr, nullptr);
      break;
    case ControlKind::HtmlViewer:
      control.browser = std::make_unique<Browser>(
          design,
          [this, &control](const std::string& address) { raiseNavigated(control, address); }, *ui_);
      control.widget = control.browser->widget();
      keepZoomWheelFromEngine(control.widget);
      break;
    case ControlKind::Label:
    case ControlKind::TransLabel:
      control.widget = gtk_label_new("");
      gtk_label_set_xalign(GTK_LABEL(control.widget), 0.0F);
      break;
  }
  gtk_widget_set_size_request(control.widget, std::max(0, design.width),
                              std::max(0, design.height));
  GtkWidget* placed = control.widget;
  if (GTK_IS_LABEL(control.widget)) {
    // A label never gets less than its text's height, which can exceed the
    // designed box (16 pixels for 透明标签1) and would reach into the client
    // area below. A clipping box of the designed size holds it to its place;
    // placeLabel aligns the label to the box's bottom edge.
    placed = gtk_layout_new(nullptr, nullptr);
    gtk_widget_set_size_request(placed, std::max(0, design.width), std::max(0, design.height));
    gtk_layout_put(GTK_LAYOUT(placed), control.widget, 0, 0);
    g_signal_connect(control.widget, "size-allocate",
                     G_CALLBACK(+[](GtkWidget* label, GdkRectangle* allocation, gpointer self) {
                       auto* layer = static_cast<GtkWindowLayer*>(self);
                       const int height = allocation->height;
                       // Moved after this allocation, not inside it.
                       layer->ui_->post([layer, label, height] {
                         if (Control* c = layer->findByHandle(handleOf(label))) {
                           layer->placeLabel(*c, height);
                         }
                       });
                     }),
                     this);
  }
  gtk_layout_put(GTK_LAYOUT(parent), placed, design.left, design.top);
  g_signal_connect(control.widget, "destroy", G_CALLBACK(+[](GtkWidget* widget, gpointer self) {
                     static_cast<GtkWindowLayer*>(self)->forgetWidget(widget);
                   }),
                   this);
  registerHandle(design.name, control.widget);
  return true;
}

// A label taller than its box hangs from the box's bottom edge: its top is
// cut instead of its bottom, so even the label's own extents (as the
// accessibility API reports them) end where the designed box ends, and a label
// designed above the client area stays wholly above it. Run when the label
// has been given its size, which only the allocation tells reliably.
void GtkWindowLayer::placeLabel(Control& control, int labelHeight) {
  if (control.widget == nullptr || !GTK_IS_LABEL(control.widget)) return;
  GtkWidget* box = gtk_widget_get_parent(control.widget);
  if (box == nullptr || !GTK_IS_LAYOUT(box)) return;
  const int top = std::min(0, std::max(0, control.design.height) - labelHeight);
  int current = 0;
  gtk_container_child_get(GTK_CONTAINER(box), control.widget, "y", &current, nullptr);
  if (current != top) gtk_layout_move(GTK_LAYOUT(box), control.widget, 0, top);
}

// The design's sizes are outer sizes, frame and menu bar included. A
// non-resizable GTK window takes the size its content asks for, so the client
// area is given exactly what is left of the outer size.
void GtkWindowLayer::applyGeometry() {
  if (client_ == nullptr) return;
  const int width = std::max(1, outerWidth_ - frame_.left - frame_.right);
  const int height = std::max(1, outerHeight_ - frame_.top - frame_.bottom - menuHeight_);
  int oldWidth = 0;
  int oldHeight = 0;
  gtk_widget_get_size_request(client_, &oldWidth, &oldHeight);
  if (oldWidth != width || oldHeight != height) {
    gtk_widget_set_size_request(client_, width, height);
  }
}

void GtkWindowLayer::onFrameExtentsChanged() {
  if (window_ == nullptr) return;
  const auto extents = readFrameExtents(gtk_widget_get_window(window_));
  if (!extents || *extents == frame_) return;
  frame_ = *extents;
  applyGeometry();
}

void GtkWindowLayer::onMenuBarAllocated(int height) {
  if (height <= 0 || height == menuHeight_) return;
  menuHeight_ = height;
  // Not from inside the size allocation: queue the new size request.
  ui_->post([this] { applyGeometry(); });
}

void GtkWindowLayer::registerHandle(const std::string& name, GtkWidget* widget) {
  std::lock_guard lock(handlesMutex_);
  handles_[name] = handleOf(widget);
}

void GtkWindowLayer::forgetWidget(GtkWidget* widget) {
  {
    std::lock_guard lock(handlesMutex_);
    std::erase_if(handles_, [&](const auto& entry) { return entry.second == handleOf(widget); });
  }
  if (widget == window_) {
    window_ = nullptr;
    menuBar_ = nullptr;
    client_ = nullptr;
  }
  for (auto& control : controls_) {
    if (control->widget == widget) control->widget = nullptr;
  }
}

void GtkWindowLayer::destroyWindow() {
  if (window_ != nullptr) gtk_widget_destroy(window_);
  // The views' last references go with their Browser objects.
  controls_.clear();
  menuHooks_.clear();
}

Control* GtkWindowLayer::find(std::string_view name) {
  for (auto& control : controls_) {
    if (control->design.name == name) return control.get();
  }
  return nullptr;
}

Control* GtkWindowLayer::findByHandle(WindowHandle handle) {
  if (handle == 0) return nullptr;
  for (auto& control : controls_) {
    if (control->widget != nullptr && handleOf(control->widget) == handle) return control.get();
  }
  return nullptr;
}

WindowHandle GtkWindowLayer::windowHandle(std::string_view control) {
  std::lock_guard lock(handlesMutex_);
  const auto it = handles_.find(control);
  return it != handles_.end() ? it->second : 0;
}

// ---------------------------------------------------------------------------
// Events

void GtkWindowLayer::raise(std::string_view source, EventKind event) {
  const EventBinding* binding = design_.binding(source, event);
  if (binding != nullptr && binding->handler != nullptr) binding->handler();
}

void GtkWindowLayer::raiseNavigated(Control& control, const std::string& address) {
  const EventBinding* binding = design_.binding(control.design.name, EventKind::Navigated);
  if (binding == nullptr || binding->handler == nullptr) return;
  // A handler may dispatch messages and so see a nested navigation; each
  // handler reads its own address.
  auto outer = std::exchange(navigated_, NavigatedAddress{control.widget, address});
  binding->handler();
  navigated_ = std::move(outer);
}

void GtkWindowLayer::postNotification(WindowHandle target, unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam) {
  // Only the speech component's message is an event of a control; any other
  // message has no handler to reach.
  if (message != kSpeechNotification) return;
  ui_->post([this, target, wParam, lParam] {
    // The target is looked up at delivery: a control destroyed meanwhile
    // drops the message.
    std::string source;
    if (Control* control = findByHandle(target)) {
      source = control->design.name;
    } else if (window_ != nullptr && handleOf(window_) == target) {
      source = design_.name;
    } else {
      return;
    }
    const EventBinding* binding = design_.binding(source, EventKind::Notification);
    if (binding != nullptr && binding->notify != nullptr) binding->notify(wParam, lParam);
  });
}

}  // namespace gtk_layer

std::unique_ptr<WindowLayer> createGtkWindowLayer() {
  return std::make_unique<gtk_layer::GtkWindowLayer>();
}

std::shared_ptr<UiDispatcher> uiDispatcherOf(WindowLayer& layer) {
  auto* gtkLayer = dynamic_cast<gtk_layer::GtkWindowLayer*>(&layer);
  return gtkLayer != nullptr ? gtkLayer->uiDispatcher() : nullptr;
}

}  // namespace zandrel
