#pragma once
// Small stand-ins for the speech engine, the page and the input hooks, enough
// to drive the application's handlers; the subsystems' own fakes test those
// subsystems.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/fake_hooks.h"
#include "fakes/fake_speech.h"
#include "fakes/fake_window_layer.h"
#include "page/page_bridge.h"
#include "runtime/services.h"

namespace zandrel::testing {

// A page whose document answers the question read in one step.
class ScriptedPage : public PageBridge {
 public:
  static constexpr WindowHandle kDocumentWindow = 5000;

  class Document : public AutomationObject {
   public:
    explicit Document(ScriptedPage& page) : page_(page) {}
    std::string getText(std::string_view) override { return {}; }
    double getNumber(std::string_view) override { return 0; }
    ObjectRef getObject(std::string_view) override { return nullptr; }
    ObjectRef call(std::string_view, const Argument&) override { return nullptr; }
    std::optional<std::string> divInnerHtml(std::string_view key, int skip) override {
      std::lock_guard lock(page_.mutex);
      page_.reads.push_back(std::string(key) + "/" + std::to_string(skip));
      return page_.question;
    }

   private:
    ScriptedPage& page_;
  };

  bool isWindow(WindowHandle w) override { return w == browser || w == kDocumentWindow; }
  WindowHandle nextChild(WindowHandle parent, WindowHandle after) override {
    return parent == browser && after == 0 && hasDocument ? kDocumentWindow : 0;
  }
  std::string className(WindowHandle w) override { return w == kDocumentWindow ? "Doc" : "Box"; }
  void processWaitingMessages() override {}
  std::string_view documentWindowClass() const override { return "Doc"; }
  void enterApartment() override { ++apartments; }
  void leaveApartment() override { --apartments; }
  ObjectRef documentFromWindow(WindowHandle w, int) override {
    if (w != kDocumentWindow) return nullptr;
    return std::make_shared<Document>(*this);
  }

  std::mutex mutex;
  WindowHandle browser = 0;
  bool hasDocument = true;
  std::string question;
  std::vector<std::string> reads;
  std::atomic<int> apartments{0};
};

// Installs the stand-ins as the process's services for one test.
struct AppServices {
  FakeWindowLayer window;
  FakeSpeechEngine speech;
  ScriptedPage page;
  FakeHotkeyPlatform hotkeys;
  FakeMouseHookPlatform mouse;
  Services saved = services();

  AppServices() { services() = Services{&window, &speech, &page, &hotkeys, &mouse}; }
  ~AppServices() { services() = saved; }
};

}  // namespace zandrel::testing
