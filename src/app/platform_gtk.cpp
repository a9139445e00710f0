#include "app/platform.h"
#include "hooks/hotkeys_x11.h"
#include "hooks/mouse_filter_gtk.h"
#include "page/web_page_gtk.h"
#include "runtime/speech_speechd.h"
#include "runtime/window_layer_gtk.h"

namespace zandrel {

// Standard error is the terminal's, or wherever the caller sent it.
void prepareLogOutput() {}

std::unique_ptr<Platform> createPlatform() {
  std::unique_ptr<WindowLayer> window = createGtkWindowLayer();
  // The bridge sets up the engine's default context, which needs GTK up and
  // must happen before any web view exists. Without a display there is no
  // page to read, and start-up reports the missing window itself.
  const bool display = window->initialise();
  std::unique_ptr<SpeechEngine> speech = createSpeechDispatcherEngine();
  std::unique_ptr<PageBridge> page =
      display ? createGtkPageBridge(uiDispatcherOf(*window)) : nullptr;
  return std::make_unique<Platform>(std::move(window), std::move(speech), std::move(page),
                                    createX11HotkeyPlatform(), createGtkMouseHookPlatform());
}

}  // namespace zandrel
