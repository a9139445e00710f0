#pragma once
// The window layer the application is written against. One implementation per
// platform (GTK + WebKitGTK, Win32 + WebBrowser) and a fake for the unit tests.
// Texts are UTF-8 throughout; the Windows layer converts at the API boundary.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

// A native window handle: a GtkWidget* on Linux, an HWND on Windows. 0 is none.
using WindowHandle = std::uintptr_t;

// Handlers are plain procedures; the design table binds them to events.
using Procedure = void (*)();
using NotificationProcedure = void (*)(std::uintptr_t wParam, std::intptr_t lParam);

// The message the speech component sends to its receiver (wParam 1 start, 2 end).
inline constexpr unsigned kSpeechNotification = 0x8075;

enum class ControlKind { PicBox, HtmlViewer, Label, TransLabel };
enum class EventKind { CreationComplete, Navigated, MenuSelected, Notification };

struct ControlDesign {
  std::string name;
  ControlKind kind = ControlKind::PicBox;
  std::string parent;  // the window's name or another control's
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  // HtmlViewer only.
  std::string url;
  bool silent = false;
  bool offline = false;
  int fontSize = 2;  // 0..4: 最小, 较小, 中等, 较大, 最大
};

struct MenuDesign {
  std::string caption;
  std::vector<std::string> items;  // item captions, which also name the items
};

struct EventBinding {
  std::string source;  // window, control or menu-item name
  EventKind event = EventKind::CreationComplete;
  Procedure handler = nullptr;
  NotificationProcedure notify = nullptr;  // EventKind::Notification only
};

struct WindowDesign {
  std::string name;
  std::string caption;
  int width = 0;  // outer size, frame and menu bar included
  int height = 0;
  bool resizable = false;
  bool maximizeBox = false;
  bool minimizeBox = true;
  bool centred = true;
  std::vector<ControlDesign> controls;
  std::vector<MenuDesign> menus;
  std::vector<EventBinding> bindings;

  const ControlDesign* control(std::string_view controlName) const;
  const EventBinding* binding(std::string_view source, EventKind event) const;
};

// Message-box results, as the classic message box numbers them.
enum MessageBoxResult : int {
  kBoxOk = 0,
  kBoxCancel = 1,
  kBoxAbort = 2,
  kBoxRetry = 3,
  kBoxIgnore = 4,
  kBoxYes = 5,
  kBoxNo = 6,
};
// Message-box styles (the low bits pick the buttons).
enum MessageBoxStyle : int {
  kBoxStyleOk = 0,
  kBoxStyleOkCancel = 1,
  kBoxStyleAbortRetryIgnore = 2,
  kBoxStyleYesNoCancel = 3,
  kBoxStyleYesNo = 4,
  kBoxStyleRetryCancel = 5,
  kBoxStyleSystemModal = 0x1000,
};
inline constexpr std::string_view kDefaultBoxCaption = "信息：";

class WindowLayer {
 public:
  virtual ~WindowLayer() = default;

  // First call of the process.
  virtual bool initialise() = 0;
  // The routine runs exactly once when the program ends, by endProgram or by
  // closing the main window.
  virtual void registerExitRoutine(Procedure routine) = 0;
  // Creates the window, menu and controls; creation complete runs inside.
  virtual bool loadWindow(const WindowDesign& design) = 0;
  // Shows the window and dispatches until the program ends; returns the exit
  // code. Exit routines have run when it returns.
  virtual int messageLoop() = 0;
  // Ends the program with the code: exit routines run, then the loop returns.
  // Callable from any thread.
  virtual void endProgram(int exitCode) = 0;
  // The control's own window handle, 0 when it does not exist.
  virtual WindowHandle windowHandle(std::string_view control) = 0;
  // Dispatches the calling thread's waiting messages; a pending quit stays.
  virtual void processWaitingMessages() = 0;
  // Blocks until closed. Caption "信息：" when none is given.
  virtual int messageBox(std::string_view text, int style, std::optional<std::string> caption,
                         WindowHandle owner) = 0;

  // Properties. `name` is the window's name or a control's. Callable from any
  // thread; the platform layer serves them on the UI thread.
  virtual int height(std::string_view name) = 0;
  virtual void setHeight(std::string_view name, int value) = 0;
  virtual std::string url(std::string_view control) = 0;
  virtual void setUrl(std::string_view control, std::string_view address) = 0;
  virtual std::string caption(std::string_view control) = 0;
  virtual void setCaption(std::string_view control, std::string_view text) = 0;

  // Queues a message for a control; it is delivered on the UI thread as that
  // control's notification event. Callable from any thread; a target that no
  // longer exists drops the message.
  virtual void postNotification(WindowHandle target, unsigned message, std::uintptr_t wParam,
                                std::intptr_t lParam) = 0;
};

// The end of the program, the same on every platform: the first request's
// exit code stands however many follow (close box, end command, signal), and
// the exit routines run once however the end comes. Requests may come from any
// thread; the routines run on the UI thread.
class ProgramEnd {
 public:
  void addRoutine(Procedure routine);
  // False when the end was requested before: the earlier code stands.
  bool request(int exitCode);
  bool requested() const { return requested_.load(); }
  int exitCode() const;
  // The first call runs the routines in the order they came; later calls do nothing.
  void runRoutines();

 private:
  mutable std::mutex mutex_;
  std::atomic<bool> requested_{false};
  int exitCode_ = 0;  // guarded by mutex_
  std::vector<Procedure> routines_;
  bool routinesRun_ = false;
};

// Convenience with the defaults the application uses.
int messageBox(WindowLayer& layer, std::string_view text, int style = kBoxStyleOk,
               std::optional<std::string> caption = std::nullopt, WindowHandle owner = 0);

}  // namespace zandrel
