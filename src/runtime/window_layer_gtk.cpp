#include "runtime/window_layer_gtk.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "runtime/window_layer_box_gtk.h"
#include "runtime/window_layer_browser_gtk.h"
#include "runtime/window_layer_dispatch_gtk.h"
#include "runtime/window_layer_frame_x11.h"

namespace zandrel {
namespace {

WindowHandle handleOf(GtkWidget* widget) {
  return reinterpret_cast<WindowHandle>(widget);
}

// How long the window manager may take to tell the frame size before the
// window is shown; openbox answers at once.
constexpr int kFrameRequestTimeoutMs = 500;

struct Control {
  ControlDesign design;
  GtkWidget* widget = nullptr;       // owned by the window's widget tree; null once destroyed
  std::unique_ptr<Browser> browser;  // HtmlViewer only
};

struct BoxWait {
  std::mutex mutex;
  std::condition_variable closed;
  bool done = false;
  int result = kBoxOk;
};

// The answer of a box that the end of the program closes.
int endResult(int style) {
  const int result = closeResult(style);
  if (result >= 0) return result;
  return (style & 0xF) == kBoxStyleYesNo ? kBoxNo : kBoxAbort;
}

class GtkWindowLayer;

struct MenuHook {
  GtkWindowLayer* layer;
  std::string source;
};

class GtkWindowLayer final : public WindowLayer {
 public:
  GtkWindowLayer() = default;
  GtkWindowLayer(const GtkWindowLayer&) = delete;
  GtkWindowLayer& operator=(const GtkWindowLayer&) = delete;
  ~GtkWindowLayer() override;

  bool initialise() override;
  void registerExitRoutine(Procedure routine) override;
  bool loadWindow(const WindowDesign& design) override;
  int messageLoop() override;
  void endProgram(int exitCode) override;
  WindowHandle windowHandle(std::string_view control) override;
  void processWaitingMessages() override;
  int messageBox(std::string_view text, int style, std::optional<std::string> caption,
                 WindowHandle owner) override;

  int height(std::string_view name) override;
  void setHeight(std::string_view name, int value) override;
  std::string url(std::string_view control) override;
  void setUrl(std::string_view control, std::string_view address) override;
  std::string caption(std::string_view control) override;
  void setCaption(std::string_view control, std::string_view text) override;

  void postNotification(WindowHandle target, unsigned message, std::uintptr_t wParam,
                        std::intptr_t lParam) override;

  void menuSelected(const std::string& source) { raise(source, EventKind::MenuSelected); }

 private:
  bool buildWindow();
  GtkWidget* buildMenuBar();
  bool addControl(const ControlDesign& design);
  void applyGeometry();
  void placeLabel(Control& control, int labelHeight);
  void onFrameExtentsChanged();
  void onMenuBarAllocated(int height);

  void requestQuit(int exitCode);
  void finishProgram();
  void runExitRoutines();
  void destroyWindow();
  void watchQuitSignal();
  void unwatchQuitSignal();

  void raise(std::string_view source, EventKind event);
  void raiseNavigated(Control& control, const std::string& address);
  Control* find(std::string_view name);
  Control* findByHandle(WindowHandle handle);
  void registerHandle(const std::string& name, GtkWidget* widget);
  void forgetWidget(GtkWidget* widget);

  int runModalBox(const std::string& text, int style, const std::string& caption,
                  WindowHandle owner);
  int waitForBox(const std::string& text, int style, const std::string& caption);
  void showOffThreadBox(const std::string& text, int style, const std::string& caption,
                        const std::shared_ptr<BoxWait>& wait);
  void answerOffThreadBox(GtkWidget* dialog, int result);
  void closeModalBoxes();
  void closeOffThreadBoxes();

  UiDispatcher ui_;
  bool gtkReady_ = false;
  std::vector<Procedure> exitRoutines_;
  bool exitRoutinesRun_ = false;
  std::mutex quitMutex_;
  std::atomic<bool> quitRequested_{false};
  int exitCode_ = 0;  // guarded by quitMutex_
  struct SignalHook {
    GtkWindowLayer* layer = nullptr;
    int signal = 0;
  };
  static constexpr int kHandledSignals = 3;
  SignalHook signalHooks_[kHandledSignals];
  guint signalSources_[kHandledSignals] = {};
  int quitPipe_[2] = {-1, -1};
  guint quitSource_ = 0;

  WindowDesign design_;
  GtkWidget* window_ = nullptr;
  GtkWidget* menuBar_ = nullptr;
  GtkWidget* client_ = nullptr;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<std::unique_ptr<MenuHook>> menuHooks_;
  FrameExtents frame_;
  int outerWidth_ = 0;
  int outerHeight_ = 0;
  int menuHeight_ = 0;

  // Read by windowHandle from any thread; written on the UI thread.
  std::mutex handlesMutex_;
  std::map<std::string, WindowHandle, std::less<>> handles_;

  // While 跳转完毕 runs, `url` reads the address of that navigation (a
  // sub-frame's address, or the main frame's before later loads move on).
  struct NavigatedAddress {
    GtkWidget* view;
    std::string address;
  };
  std::optional<NavigatedAddress> navigated_;

  struct OpenBox {
    GtkWidget* dialog;
    int style;
    std::shared_ptr<BoxWait> wait;
  };
  std::vector<OpenBox> openBoxes_;      // boxes shown for other threads
  std::vector<GtkWidget*> modalBoxes_;  // boxes the UI thread is running
};

GtkWindowLayer::~GtkWindowLayer() {
  ui_.close();
  closeOffThreadBoxes();
  destroyWindow();
  for (guint& source : signalSources_) {
    if (source != 0) g_source_remove(source);
    source = 0;
  }
  unwatchQuitSignal();
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
  ui_.bindToCurrentThread();
  // Ctrl+C or Ctrl+\ in a terminal, a closed terminal or a logout (HUP) and
  // a TERM from the session end the program like the close box does: the
  // voice is silenced and the exit routines still run, once.
  const int signals[kHandledSignals] = {SIGINT, SIGTERM, SIGHUP};
  for (int i = 0; i < kHandledSignals; ++i) {
    signalHooks_[i] = SignalHook{this, signals[i]};
    signalSources_[i] = g_unix_signal_add(
        signals[i],
        +[](gpointer data) -> gboolean {
          auto* hook = static_cast<SignalHook*>(data);
          hook->layer->requestQuit(128 + hook->signal);
          return G_SOURCE_CONTINUE;
        },
        &signalHooks_[i]);
  }
  watchQuitSignal();
  return true;
}

namespace {
// The write end of the QUIT signal's pipe, for the handler; -1 when none.
std::atomic<int> quitSignalWriter{-1};
static_assert(std::atomic<int>::is_always_lock_free);
}  // namespace

// GLib watches HUP, INT and TERM itself but refuses QUIT: that one comes to
// the main loop through a pipe of the layer's own.
void GtkWindowLayer::watchQuitSignal() {
  if (::pipe2(quitPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    quitPipe_[0] = quitPipe_[1] = -1;
    return;
  }
  quitSignalWriter = quitPipe_[1];
  struct sigaction action {};
  action.sa_handler = +[](int) {
    const int saved = errno;
    const int fd = quitSignalWriter.load();
    const char byte = 'q';
    if (fd >= 0) {
      [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
  };
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGQUIT, &action, nullptr);
  quitSource_ = g_unix_fd_add(
      quitPipe_[0], G_IO_IN,
      +[](gint fd, GIOCondition, gpointer self) -> gboolean {
        char drained[64];
        while (::read(fd, drained, sizeof(drained)) > 0) {
        }
        static_cast<GtkWindowLayer*>(self)->requestQuit(128 + SIGQUIT);
        return G_SOURCE_CONTINUE;
      },
      this);
}

void GtkWindowLayer::unwatchQuitSignal() {
  if (quitPipe_[0] < 0) return;
  ::signal(SIGQUIT, SIG_DFL);
  quitSignalWriter = -1;
  if (quitSource_ != 0) g_source_remove(quitSource_);
  quitSource_ = 0;
  ::close(quitPipe_[0]);
  ::close(quitPipe_[1]);
  quitPipe_[0] = quitPipe_[1] = -1;
}

void GtkWindowLayer::registerExitRoutine(Procedure routine) {
  if (routine != nullptr) exitRoutines_.push_back(routine);
}

// ---------------------------------------------------------------------------
// The window

bool GtkWindowLayer::loadWindow(const WindowDesign& design) {
  if (!gtkReady_ || window_ != nullptr || !ui_.onUiThread()) return false;
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
                     static_cast<GtkWindowLayer*>(self)->requestQuit(0);
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
    int screenWidth = 0;
    int screenHeight = 0;
    screenSize(screenWidth, screenHeight);
    // Outer coordinates: with the default north-west gravity the window
    // manager puts the frame's top-left corner at the given point.
    gtk_window_move(GTK_WINDOW(window_), (screenWidth - outerWidth_) / 2,
                    (screenHeight - outerHeight_) / 2);
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
          [this, &control](const std::string& address) { raiseNavigated(control, address); }, ui_);
      control.widget = control.browser->widget();
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
                       layer->ui_.post([layer, label, height] {
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
  ui_.post([this] { applyGeometry(); });
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
  ui_.post([this, target, wParam, lParam] {
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

// ---------------------------------------------------------------------------
// Message loop and the end of the program

void GtkWindowLayer::processWaitingMessages() {
  if (!gtkReady_ || !ui_.onUiThread()) return;
  // Bounded: an always-ready idle source must not keep the caller here. A
  // requested end stops the dispatching and stays pending for the loop.
  for (int i = 0; i < 10000 && !quitRequested_.load(); ++i) {
    if (!g_main_context_iteration(nullptr, FALSE)) break;
  }
}

int GtkWindowLayer::messageLoop() {
  if (gtkReady_ && ui_.onUiThread()) {
    if (window_ != nullptr && !quitRequested_.load()) gtk_widget_show_all(window_);
    while (!quitRequested_.load()) g_main_context_iteration(nullptr, TRUE);
  }
  finishProgram();
  std::lock_guard lock(quitMutex_);
  return exitCode_;
}

void GtkWindowLayer::endProgram(int exitCode) {
  requestQuit(exitCode);
}

void GtkWindowLayer::requestQuit(int exitCode) {
  {
    std::lock_guard lock(quitMutex_);
    if (quitRequested_.load()) return;  // the first request's code stands
    exitCode_ = exitCode;
    quitRequested_.store(true);
  }
  if (!gtkReady_) return;
  g_main_context_wakeup(nullptr);
  // A box the UI thread is running holds it in a nested loop: close it.
  ui_.post([this] { closeModalBoxes(); });
}

void GtkWindowLayer::finishProgram() {
  // From here on calls from other threads return at once instead of waiting
  // for a UI thread that is busy ending (an exit routine may wait for them).
  ui_.close();
  closeOffThreadBoxes();
  if (window_ != nullptr) gtk_widget_hide(window_);
  runExitRoutines();
  destroyWindow();
  if (gtkReady_) gdk_display_flush(gdk_display_get_default());
}

void GtkWindowLayer::runExitRoutines() {
  if (exitRoutinesRun_) return;
  exitRoutinesRun_ = true;
  for (Procedure routine : exitRoutines_) routine();
}

// ---------------------------------------------------------------------------
// Message boxes

int GtkWindowLayer::messageBox(std::string_view text, int style, std::optional<std::string> caption,
                               WindowHandle owner) {
  const std::string title = caption.value_or(std::string(kDefaultBoxCaption));
  const std::string content(text);
  if (!gtkReady_) {
    // No display to show it on: the text still reaches the user's terminal.
    std::fprintf(stderr, "%s %s\n", title.c_str(), content.c_str());
    return endResult(style);
  }
  if (ui_.onUiThread()) return runModalBox(content, style, title, owner);
  return waitForBox(content, style, title);
}

int GtkWindowLayer::runModalBox(const std::string& text, int style, const std::string& caption,
                                WindowHandle owner) {
  GtkWidget* dialog = createMessageBox(text, style, caption);
  GtkWidget* parent = nullptr;
  if (Control* control = findByHandle(owner)) {
    parent = gtk_widget_get_toplevel(control->widget);
  } else if (window_ != nullptr && (owner == 0 || owner == handleOf(window_))) {
    parent = window_;
  }
  if (parent != nullptr && gtk_widget_get_visible(parent)) {
    gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(parent));
  }
  // Modal: the main window takes no input until the box is closed, as with
  // the classic task-modal box.
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  modalBoxes_.push_back(dialog);
  int result = -1;
  while (result < 0) {
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    result = boxResult(response, style);
    if (result < 0 && quitRequested_.load()) result = endResult(style);
  }
  std::erase(modalBoxes_, dialog);
  gtk_widget_destroy(dialog);
  return result;
}

void GtkWindowLayer::closeModalBoxes() {
  for (GtkWidget* dialog : modalBoxes_) {
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
  }
}

// A box for another thread: the UI thread shows it without owner and without
// modality, the calling thread waits for the answer, and the main window stays
// usable meanwhile.
int GtkWindowLayer::waitForBox(const std::string& text, int style, const std::string& caption) {
  auto wait = std::make_shared<BoxWait>();
  if (!ui_.post(
          [this, text, style, caption, wait] { showOffThreadBox(text, style, caption, wait); })) {
    return endResult(style);  // the program is ending
  }
  std::unique_lock lock(wait->mutex);
  wait->closed.wait(lock, [&] { return wait->done; });
  return wait->result;
}

void GtkWindowLayer::showOffThreadBox(const std::string& text, int style,
                                      const std::string& caption,
                                      const std::shared_ptr<BoxWait>& wait) {
  GtkWidget* dialog = createMessageBox(text, style, caption);
  openBoxes_.push_back(OpenBox{dialog, style, wait});
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* box, int response, gpointer self) {
                     auto* layer = static_cast<GtkWindowLayer*>(self);
                     for (const OpenBox& open : layer->openBoxes_) {
                       if (open.dialog != GTK_WIDGET(box)) continue;
                       const int result = boxResult(response, open.style);
                       if (result >= 0) layer->answerOffThreadBox(GTK_WIDGET(box), result);
                       return;
                     }
                   }),
                   this);
  // The box goes when answered (above), not by GTK's default on delete.
  g_signal_connect(dialog, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean { return TRUE; }),
                   nullptr);
  gtk_widget_show_all(dialog);
  gtk_window_present(GTK_WINDOW(dialog));
}

void GtkWindowLayer::answerOffThreadBox(GtkWidget* dialog, int result) {
  const auto it = std::find_if(openBoxes_.begin(), openBoxes_.end(),
                               [&](const OpenBox& open) { return open.dialog == dialog; });
  if (it == openBoxes_.end()) return;
  const std::shared_ptr<BoxWait> wait = it->wait;
  openBoxes_.erase(it);
  gtk_widget_destroy(dialog);
  {
    std::lock_guard lock(wait->mutex);
    wait->result = result;
    wait->done = true;
  }
  wait->closed.notify_all();
}

void GtkWindowLayer::closeOffThreadBoxes() {
  while (!openBoxes_.empty()) {
    const OpenBox open = openBoxes_.front();
    answerOffThreadBox(open.dialog, endResult(open.style));
  }
}

// ---------------------------------------------------------------------------
// Properties: served on the UI thread for every caller.

int GtkWindowLayer::height(std::string_view name) {
  int result = 0;
  ui_.invoke([&] {
    if (window_ != nullptr && name == design_.name) {
      result = outerHeight_;
    } else if (Control* control = find(name); control != nullptr && control->widget != nullptr) {
      result = control->design.height;
    }
  });
  return result;
}

void GtkWindowLayer::setHeight(std::string_view name, int value) {
  ui_.invoke([&] {
    if (window_ != nullptr && name == design_.name) {
      // The top-left corner stays: the window grows or shrinks at the bottom.
      outerHeight_ = value;
      applyGeometry();
    } else if (Control* control = find(name); control != nullptr && control->widget != nullptr) {
      control->design.height = std::max(0, value);
      gtk_widget_set_size_request(control->widget, std::max(0, control->design.width),
                                  control->design.height);
      if (GTK_IS_LABEL(control->widget)) {
        gtk_widget_set_size_request(gtk_widget_get_parent(control->widget),
                                    std::max(0, control->design.width), control->design.height);
      }
    }
  });
}

std::string GtkWindowLayer::url(std::string_view name) {
  std::string result;
  ui_.invoke([&] {
    Control* control = find(name);
    if (control == nullptr || control->browser == nullptr || control->widget == nullptr) return;
    if (navigated_ && navigated_->view == control->widget) {
      result = navigated_->address;
    } else {
      result = control->browser->address();
    }
  });
  return result;
}

void GtkWindowLayer::setUrl(std::string_view name, std::string_view address) {
  ui_.invoke([&] {
    Control* control = find(name);
    if (control == nullptr || control->browser == nullptr || control->widget == nullptr) return;
    control->browser->navigate(std::string(address));
  });
}

std::string GtkWindowLayer::caption(std::string_view name) {
  std::string result;
  ui_.invoke([&] {
    if (window_ != nullptr && name == design_.name) {
      const gchar* title = gtk_window_get_title(GTK_WINDOW(window_));
      result = title != nullptr ? title : "";
    } else if (Control* control = find(name);
               control != nullptr && control->widget != nullptr && GTK_IS_LABEL(control->widget)) {
      result = gtk_label_get_text(GTK_LABEL(control->widget));
    }
  });
  return result;
}

void GtkWindowLayer::setCaption(std::string_view name, std::string_view text) {
  ui_.invoke([&] {
    const std::string value(text);
    if (window_ != nullptr && name == design_.name) {
      gtk_window_set_title(GTK_WINDOW(window_), value.c_str());
    } else if (Control* control = find(name);
               control != nullptr && control->widget != nullptr && GTK_IS_LABEL(control->widget)) {
      gtk_label_set_text(GTK_LABEL(control->widget), value.c_str());
    }
  });
}

}  // namespace

std::unique_ptr<WindowLayer> createGtkWindowLayer() {
  return std::make_unique<GtkWindowLayer>();
}

}  // namespace zandrel
