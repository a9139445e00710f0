#include "app/platform.h"
#include "hooks/hotkeys_win32.h"
#include "hooks/mouse_filter_win32.h"
#include "page/web_page_win32.h"
#include "runtime/speech_sapi.h"
#include "runtime/window_layer_win32.h"

namespace zandrel {

std::unique_ptr<Platform> createPlatform() {
  std::unique_ptr<WindowLayer> window = createWin32WindowLayer();
  std::unique_ptr<SpeechEngine> speech = createSapiEngine();
  std::unique_ptr<PageBridge> page = createWin32PageBridge();
  return std::make_unique<Platform>(std::move(window), std::move(speech), std::move(page),
                                    createWin32HotkeyPlatform(), createWin32MouseHookPlatform());
}

}  // namespace zandrel
