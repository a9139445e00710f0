#pragma once
// The window layer on GTK, shared by the files that do its jobs: the window
// and its geometry (window_layer_gtk.cpp), the end of the program
// (window_layer_end_gtk.cpp), message boxes (window_layer_box_gtk.cpp) and the
// properties other threads read and write (window_layer_properties_gtk.cpp).

#include <gtk/gtk.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/ui_dispatcher.h"
#include "runtime/window_layer_browser_gtk.h"
#include "runtime/window_layer_frame_x11.h"
#include "runtime/window_layer_gtk.h"

namespace zandrel::gtk_layer {

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
  const std::shared_ptr<UiDispatcher>& uiDispatcher() const { return ui_; }

 private:
  bool buildWindow();
  GtkWidget* buildMenuBar();
  bool addControl(const ControlDesign& design);
  void applyGeometry();
  void placeLabel(Control& control, int labelHeight);
  void onFrameExtentsChanged();
  void onMenuBarAllocated(int height);

  void finishProgram();
  void destroyWindow();
  void watchSignals();
  void unwatchSignals();
  void watchDisplay();
  [[noreturn]] void endOnLostDisplay();

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

  // Shared with the page bridge: one queue of calls onto the UI thread,
  // closed at the end of the program for every caller.
  std::shared_ptr<UiDispatcher> ui_ = std::make_shared<UiDispatcher>();
  bool gtkReady_ = false;
  ProgramEnd end_;
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

}  // namespace zandrel::gtk_layer
