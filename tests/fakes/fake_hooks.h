#pragma once
// Scripted stand-ins for the hotkey and mouse-hook platforms: the tests set the
// key states and focus class by hand and read back what the core asked for.

#include <cstdint>
#include <string>
#include <vector>

#include "hooks/hotkeys.h"
#include "hooks/mouse_filter.h"
#include "runtime/services.h"

namespace zandrel::testing {

class FakeHotkeyPlatform : public HotkeyPlatform {
 public:
  struct TimerStart {
    int periodMs;
    void (*poll)();
  };
  struct ThreadStart {
    HotkeyHandler handler;
    std::int32_t id;
  };

  // Key states as the next sample reports them.
  void down(int vk) { keys[vk] = -32768; }
  void up(int vk) { keys[vk] = 0; }
  // Pressed and released again since the previous sample.
  void tapped(int vk) { keys[vk] = 1; }

  void sampleKeys(KeySnapshot& snapshot) override;
  bool startTimer(int periodMs, void (*poll)()) override;
  bool startThread(HotkeyHandler handler, std::int32_t id) override;

  KeySnapshot keys{};
  int samples = 0;
  bool threadsStart = true;
  std::vector<TimerStart> timers;
  std::vector<ThreadStart> threads;
};

class FakeMouseHookPlatform : public MouseHookPlatform {
 public:
  MouseFilterInstallation install(WindowHandle browser) override {
    installs.push_back(browser);
    return installation;
  }

  MouseFilterInstallation installation{0x5150, 4242, 777};
  std::vector<WindowHandle> installs;
};

// Puts fakes into services() for one test and restores what was there.
class ScopedHookServices {
 public:
  ScopedHookServices(HotkeyPlatform* hotkeys, MouseHookPlatform* mouse);
  ~ScopedHookServices();
  ScopedHookServices(const ScopedHookServices&) = delete;
  ScopedHookServices& operator=(const ScopedHookServices&) = delete;

 private:
  HotkeyPlatform* savedHotkeys_;
  MouseHookPlatform* savedMouse_;
};

}  // namespace zandrel::testing
