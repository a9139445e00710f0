#include "hooks/hotkeys_win32.h"

#include <windows.h>

#include <atomic>
#include <memory>

namespace zandrel {
namespace {

// The timer identifier asked for; without a window the system picks its own.
constexpr UINT_PTR kPollTimerId = 16661;

// The poll of the process's one hotkey timer (it is never stopped).
std::atomic<void (*)()> pollProcedure{nullptr};

void CALLBACK pollTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (auto poll = pollProcedure.load()) poll();
}

struct ThreadStart {
  HotkeyHandler handler;
  std::int32_t id;
};

DWORD WINAPI runHandler(void* parameter) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  start->handler(start->id);
  return 0;
}

class Win32HotkeyPlatform final : public HotkeyPlatform {
 public:
  void sampleKeys(KeySnapshot& snapshot) override {
    snapshot[0] = 0;
    for (int key = 1; key < 256; ++key) snapshot[key] = GetAsyncKeyState(key);
  }

  bool startTimer(int periodMs, void (*poll)()) override {
    pollProcedure.store(poll);
    return SetTimer(nullptr, kPollTimerId, static_cast<UINT>(periodMs), &pollTimer) != 0;
  }

  bool startThread(HotkeyHandler handler, std::int32_t id) override {
    auto start = std::make_unique<ThreadStart>(ThreadStart{handler, id});
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, &runHandler, start.get(), 0, &threadId);
    if (!thread) return false;
    start.release();      // the new thread owns it now
    CloseHandle(thread);  // runs detached
    return true;
  }
};

}  // namespace

std::unique_ptr<HotkeyPlatform> createWin32HotkeyPlatform() {
  return std::make_unique<Win32HotkeyPlatform>();
}

}  // namespace zandrel
