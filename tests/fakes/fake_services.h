#pragma once
// The whole family of fakes installed as the process's services, enough to
// drive the application's handlers from start-up to the end.

#include <string>
#include <string_view>

#include "app/main_window.h"
#include "fakes/fake_hooks.h"
#include "fakes/fake_page.h"
#include "fakes/fake_speech.h"
#include "fakes/fake_window_layer.h"
#include "runtime/services.h"

namespace zandrel::testing {

// Installs the fakes as the process's services for one test.
struct AppServices {
  FakeWindowLayer window;
  FakeSpeechEngine speech;
  FakeDom dom;
  FakePageBridge page;
  FakeHotkeyPlatform hotkeys;
  FakeMouseHookPlatform mouse;
  Services saved = services();

  AppServices() { services() = Services{&window, &speech, &page, &hotkeys, &mouse}; }
  ~AppServices() { services() = saved; }

  // The exam page in the loaded window's browser, as the site lays it out: the
  // question is the second DIV titled "title", after the exam's heading.
  // Returns the engine's document window below the browser.
  WindowHandle showQuestion(std::string_view question) {
    const WindowHandle browser = page.add(0, "browser", "Shell", window.windowHandle(kBrowser));
    auto asked = dom.div("question", "title");
    asked->properties["innerHTML"] = std::string(question);
    page.answer = [this, document = dom.document({dom.div("heading", "title"), asked})](
                      WindowHandle) { return dom.ref(document); };
    return page.add(browser, "document", std::string(FakePageBridge::kDocumentClass));
  }
};

}  // namespace zandrel::testing
