#include <memory>

#include "app/platform.h"
#include "hooks/hotkeys_win32.h"
#include "hooks/mouse_filter_win32.h"
#include "page/web_page_win32.h"
#include "runtime/services.h"
#include "runtime/speech_sapi.h"
#include "runtime/window_layer_win32.h"

namespace zandrel {
namespace {

class Win32Platform : public Platform {
 public:
  Win32Platform()
      : window_(createWin32WindowLayer()),
        speech_(createSapiEngine()),
        page_(createWin32PageBridge()),
        hotkeys_(createWin32HotkeyPlatform()),
        mouse_(createWin32MouseHookPlatform()) {
    Services& s = services();
    s.window = window_.get();
    s.speech = speech_.get();
    s.page = page_.get();
    s.hotkeys = hotkeys_.get();
    s.mouse = mouse_.get();
  }
  ~Win32Platform() override { services() = Services{}; }

 private:
  std::unique_ptr<WindowLayer> window_;
  std::unique_ptr<SpeechEngine> speech_;
  std::unique_ptr<PageBridge> page_;
  std::unique_ptr<HotkeyPlatform> hotkeys_;
  std::unique_ptr<MouseHookPlatform> mouse_;
};

}  // namespace

std::unique_ptr<Platform> createPlatform() { return std::make_unique<Win32Platform>(); }

}  // namespace zandrel
