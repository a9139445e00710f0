#include "app/platform.h"

#include "runtime/services.h"

namespace zandrel {

Platform::Platform(std::unique_ptr<WindowLayer> window, std::unique_ptr<SpeechEngine> speech,
                   std::unique_ptr<PageBridge> page, std::unique_ptr<HotkeyPlatform> hotkeys,
                   std::unique_ptr<MouseHookPlatform> mouse)
    : window_(std::move(window)),
      speech_(std::move(speech)),
      page_(std::move(page)),
      hotkeys_(std::move(hotkeys)),
      mouse_(std::move(mouse)) {
  services() = Services{window_.get(), speech_.get(), page_.get(), hotkeys_.get(), mouse_.get()};
}

Platform::~Platform() {
  services() = Services{};
}

}  // namespace zandrel
