#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/single_instance.h"
#include "runtime/window_layer_win32.h"

namespace zandrel {
namespace {

// The session-wide name (Local\): one program per logged-on user session.
constexpr wchar_t kMutexName[] = L"Local\\Zandrel.SingleInstance";
constexpr std::chrono::milliseconds kWindowWait{3000};

class MutexClaim final : public InstanceClaim {
 public:
  explicit MutexClaim(HANDLE mutex) : mutex_(mutex) {}
  ~MutexClaim() override {
    if (mutex_ != nullptr) CloseHandle(mutex_);
  }
  MutexClaim(const MutexClaim&) = delete;
  MutexClaim& operator=(const MutexClaim&) = delete;

 private:
  HANDLE mutex_;
};

// The running program may still be building its window: look for a while.
void activateRunningWindow() {
  const auto deadline = std::chrono::steady_clock::now() + kWindowWait;
  for (;;) {
    if (HWND window = FindWindowW(kMainWindowClass, nullptr)) {
      if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
      SetForegroundWindow(window);
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

std::unique_ptr<InstanceClaim> claimSingleInstance() {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
  if (mutex == nullptr) {
    // Opening an existing mutex asks for all access, which a copy started as
    // administrator denies this one: the program runs all the same.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      std::fputs(
          "zandrel: Zandrel already runs in this session, started as administrator or as"
          " another user; this start ends\n",
          stderr);
      std::fflush(stderr);
      activateRunningWindow();
      return nullptr;
    }
    return std::make_unique<MutexClaim>(nullptr);  // unchecked: run
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    activateRunningWindow();
    return nullptr;
  }
  return std::make_unique<MutexClaim>(mutex);
}

}  // namespace zandrel
