#include "app/main_window.h"

#include <atomic>
#include <mutex>

#include "app/exam_commands.h"
#include "app/exam_hosts.h"
#include "app/read_aloud.h"
#include "hooks/hotkeys.h"
#include "hooks/mouse_filter.h"
#include "runtime/services.h"

namespace zandrel {
namespace {

// Touched only by the UI thread.
std::string currentExamAddress;

// The end of the program may be reached by more than one road (the exit
// command, the close box, a signal, a failed start); the globals go once.
std::atomic<bool> globalsReleased{false};

WindowDesign buildMainWindowDesign() {
  WindowDesign d;
  d.name = std::string(kMainWindow);
  d.caption = std::string(kWindowCaption);
  d.width = 966;
  d.height = Subject1WindowHeight;
  d.resizable = false;
  d.maximizeBox = false;
  d.minimizeBox = true;
  d.centred = true;

  auto add = [&d](std::string_view name, ControlKind kind, std::string_view parent, int left,
                  int top, int width, int height) -> ControlDesign& {
    ControlDesign c;
    c.name = std::string(name);
    c.kind = kind;
    c.parent = std::string(parent);
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    d.controls.push_back(std::move(c));
    return d.controls.back();
  };
  add(kPictureBox, ControlKind::PicBox, kMainWindow, 0, 0, 960, 588);
  ControlDesign& browser =
      add(kBrowser, ControlKind::HtmlViewer, kPictureBox, -517, -232, 2000, ExamBrowserHeight);
  browser.url = Subject1ExamAddress();
  browser.silent = true;
  browser.offline = false;
  browser.fontSize = 2;
  add(kStatusLabel, ControlKind::TransLabel, kMainWindow, 240, -16, 120, 16);
  add(kReceiverLabel, ControlKind::Label, kMainWindow, 192, -40, 216, 24);

  d.menus.push_back({std::string(kMenuMain),
                     {std::string(kMenuSubject1), std::string(kMenuSubject4),
                      std::string(kMenuRetake), std::string(kMenuExit)}});
  d.menus.push_back({std::string(kMenuReadAloud), {std::string(kMenuSpeak)}});

  auto bind = [&d](std::string_view source, EventKind event, Procedure handler) {
    EventBinding b;
    b.source = std::string(source);
    b.event = event;
    b.handler = handler;
    d.bindings.push_back(std::move(b));
  };
  bind(kMainWindow, EventKind::CreationComplete, OnMainWindowCreated);
  bind(kBrowser, EventKind::Navigated, OnBrowserNavigated);
  bind(kMenuSubject1, EventKind::MenuSelected, OnSubject1Exam);
  bind(kMenuSubject4, EventKind::MenuSelected, OnSubject4Exam);
  bind(kMenuRetake, EventKind::MenuSelected, OnRetakeExam);
  bind(kMenuExit, EventKind::MenuSelected, OnExitProgram);
  bind(kMenuSpeak, EventKind::MenuSelected, OnReadAloudMenu);
  return d;
}

}  // namespace

const WindowDesign& MainWindowDesign() {
  // Built anew when asked for (on the UI thread): the exam's address is known
  // only once the program's own site serves.
  static WindowDesign design;
  design = buildMainWindowDesign();
  return design;
}

std::string CurrentExamAddress() {
  return currentExamAddress;
}
void SetCurrentExamAddress(std::string_view address) {
  currentExamAddress = std::string(address);
}

void InitGlobals() {
  globalsReleased = false;
  CreateHotkeyTable();
  WindowLayer* window = services().window;
  speaker().create(*services().speech, [window](WindowHandle target, unsigned message,
                                                std::uintptr_t wParam, std::intptr_t lParam) {
    if (window != nullptr) window->postNotification(target, message, wParam, lParam);
  });
}

void OnMainWindowCreated() {
  WindowHandle browser = services().window->windowHandle(kBrowser);
  InstallBrowserMouseFilter(browser);
  AddHotkey(OnReadAloudHotkey, 112);
  currentExamAddress = Subject1ExamAddress();
}

void ReleaseGlobals() {
  if (globalsReleased.exchange(true)) return;
  currentExamAddress.clear();
  currentExamAddress.shrink_to_fit();
  FreeHotkeyTable();
  // Waits for a read-aloud thread that is inside an operation on the speaker;
  // runs that come later find no speaker and are refused.
  speaker().release();
}

int RunApplication() {
  WindowLayer& window = *services().window;
  window.initialise();
  InitGlobals();
  window.registerExitRoutine(ReleaseGlobals);
  if (!window.loadWindow(MainWindowDesign())) {
    messageBox(window, kLoadFailedText);
    ReleaseGlobals();
    return -1;
  }
  return window.messageLoop();
}

}  // namespace zandrel
