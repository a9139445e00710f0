#include <memory>

#include "app/platform.h"
#include "hooks/hotkeys_x11.h"
#include "hooks/mouse_filter_gtk.h"
#include "page/web_page_gtk.h"
#include "runtime/services.h"
#include "runtime/speech_speechd.h"
#include "runtime/window_layer_gtk.h"

namespace zandrel {
namespace {

class GtkPlatform : public Platform {
 public:
  GtkPlatform()
      : window_(createGtkWindowLayer()),
        speech_(createSpeechDispatcherEngine()),
        // The bridge sets up the engine's default context, which needs GTK up
        // and must happen before any web view exists. Without a display there
        // is no page to read, and start-up reports the missing window itself.
        page_(window_->initialise() ? createGtkPageBridge() : nullptr),
        hotkeys_(createX11HotkeyPlatform()),
        mouse_(createGtkMouseHookPlatform()) {
    Services& s = services();
    s.window = window_.get();
    s.speech = speech_.get();
    s.page = page_.get();
    s.hotkeys = hotkeys_.get();
    s.mouse = mouse_.get();
  }
  ~GtkPlatform() override { services() = Services{}; }

 private:
  std::unique_ptr<WindowLayer> window_;
  std::unique_ptr<SpeechEngine> speech_;
  std::unique_ptr<PageBridge> page_;
  std::unique_ptr<HotkeyPlatform> hotkeys_;
  std::unique_ptr<MouseHookPlatform> mouse_;
};

}  // namespace

std::unique_ptr<Platform> createPlatform() { return std::make_unique<GtkPlatform>(); }

}  // namespace zandrel
