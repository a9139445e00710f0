#pragma once
// The platform's services for the program: created at start, filling
// services(), destroyed after the message loop has ended.

#include <memory>

#include "hooks/hotkeys.h"
#include "hooks/mouse_filter.h"
#include "page/page_bridge.h"
#include "runtime/speech.h"
#include "runtime/window_layer.h"

namespace zandrel {

class Platform {
 public:
  Platform(std::unique_ptr<WindowLayer> window, std::unique_ptr<SpeechEngine> speech,
           std::unique_ptr<PageBridge> page, std::unique_ptr<HotkeyPlatform> hotkeys,
           std::unique_ptr<MouseHookPlatform> mouse);
  ~Platform();
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

 private:
  // Declared in the order they are made; destroyed in reverse, the window last.
  std::unique_ptr<WindowLayer> window_;
  std::unique_ptr<SpeechEngine> speech_;
  std::unique_ptr<PageBridge> page_;
  std::unique_ptr<HotkeyPlatform> hotkeys_;
  std::unique_ptr<MouseHookPlatform> mouse_;
};

// The platform this program is built for (one definition per platform).
std::unique_ptr<Platform> createPlatform();

// Sends the program's log where its user can read it. Called first thing in
// main, before the single-instance claim and the embedded site, which both
// write to it (one definition per platform).
void prepareLogOutput();

}  // namespace zandrel
