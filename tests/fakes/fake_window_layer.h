#pragma once
// A window layer that keeps the design's properties in memory and records what
// the application asked of it.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/window_layer.h"

namespace zandrel::testing {

class FakeWindowLayer : public WindowLayer {
 public:
  struct Box {
    std::string text;
    int style;
    std::string caption;
    WindowHandle owner;
  };
  struct Notification {
    WindowHandle target;
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };

  bool initialise() override;
  void registerExitRoutine(Procedure routine) override;
  bool loadWindow(const WindowDesign& design) override;
  int messageLoop() override;
  void endProgram(int exitCode) override;
  WindowHandle windowHandle(std::string_view control) override;
  void processWaitingMessages() override {}
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

  // Raises the browser's navigated event as the engine would for `address`.
  void navigate(std::string_view control, std::string_view address);
  // Picks a menu item as the user would.
  void selectMenuItem(std::string_view item);
  // Closes the window by its close box.
  void close();

  // Set by tests.
  bool failLoad = false;
  int boxAnswer = kBoxOk;
  std::function<void()> duringLoop;  // runs inside messageLoop
  std::function<void(const Box&)> onBox;

  // Recorded.
  std::mutex mutex;
  int exitRoutineRuns = 0;
  std::vector<Box> boxes;
  std::vector<std::string> urlWrites;
  std::vector<std::pair<std::string, int>> heightWrites;
  std::vector<Notification> notifications;
  const WindowDesign* design = nullptr;
  bool creationCompleteRan = false;

 private:
  void runExitRoutines();
  std::vector<Procedure> exitRoutines_;
  bool ending_ = false;
  int exitCode_ = 0;
  std::map<std::string, int, std::less<>> heights_;
  std::map<std::string, std::string, std::less<>> urls_;
  std::map<std::string, std::string, std::less<>> captions_;
  std::string navigating_;
  bool inNavigated_ = false;
};

}  // namespace zandrel::testing
