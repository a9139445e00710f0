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
  struct Install {
    std::uint32_t thread;
    MouseFilterProc filter;
  };
  struct NextHookCall {
    HookHandle hook;
    int code;
    std::uintptr_t message;
    std::intptr_t event;
  };

  std::uint32_t windowThread(WindowHandle window) override;
  std::uint32_t windowProcess(WindowHandle window) override;
  HookHandle installMouseHook(std::uint32_t thread, MouseFilterProc filter) override;
  std::string focusClassName() override { return focusClass; }
  std::intptr_t callNextHook(HookHandle hook, int code, std::uintptr_t message,
                             std::intptr_t event) override;
  std::string documentWindowClass() const override { return documentClass; }

  std::uint32_t ownerThread = 4242;
  std::uint32_t ownerProcess = 777;
  HookHandle hookToReturn = 0x5150;
  std::string focusClass;
  std::string documentClass = "Internet Explorer_Server";
  std::intptr_t nextHookResult = 0;
  std::vector<WindowHandle> threadQueries;
  std::vector<Install> installs;
  std::vector<NextHookCall> nextHookCalls;
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
