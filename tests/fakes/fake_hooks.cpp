#include "fakes/fake_hooks.h"

namespace zandrel::testing {

void FakeHotkeyPlatform::sampleKeys(KeySnapshot& snapshot) {
  ++samples;
  for (int vk = 1; vk < 256; ++vk) snapshot[vk] = keys[vk];
  // Like the real sources: the pressed-since bit is cleared by reading it.
  for (auto& value : keys) {
    if (value > 0) value = 0;
  }
}

bool FakeHotkeyPlatform::startTimer(int periodMs, void (*poll)()) {
  timers.push_back({periodMs, poll});
  return true;
}

bool FakeHotkeyPlatform::startThread(HotkeyHandler handler, std::int32_t id) {
  if (!threadsStart) return false;
  threads.push_back({handler, id});
  return true;
}

ScopedHookServices::ScopedHookServices(HotkeyPlatform* hotkeys, MouseHookPlatform* mouse)
    : savedHotkeys_(services().hotkeys), savedMouse_(services().mouse) {
  services().hotkeys = hotkeys;
  services().mouse = mouse;
}

ScopedHookServices::~ScopedHookServices() {
  services().hotkeys = savedHotkeys_;
  services().mouse = savedMouse_;
}

}  // namespace zandrel::testing
