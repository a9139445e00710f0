// The single-instance claim against a running copy: the ordinary case, and a
// copy whose mutex this process may not open with all access, as with a copy
// started as administrator (its mutex then grants a normal process no more
// than SYNCHRONIZE).

#include <gtest/gtest.h>

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <string>

#include "app/single_instance.h"
#include "win32_test_support.h"

namespace zandrel {
namespace {

constexpr wchar_t kMutexName[] = L"Local\\Zandrel.SingleInstance";

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// The running copy's window, minimised: a second start must bring it back.
class RunningWindow {
 public:
  RunningWindow() {
    test::registerPlainClass(L"ZandrelMainWindow");
    window_ = std::make_unique<test::PlainWindow>(L"ZandrelMainWindow", nullptr, 0, 0, 200, 100,
                                                  WS_OVERLAPPEDWINDOW);
    ShowWindow(window_->hwnd(), SW_SHOWMINIMIZED);
  }
  ~RunningWindow() {
    window_.reset();
    // The window layer's tests in this process register the class with the
    // layer's own window procedure.
    UnregisterClassW(L"ZandrelMainWindow", GetModuleHandleW(nullptr));
  }
  RunningWindow(const RunningWindow&) = delete;
  RunningWindow& operator=(const RunningWindow&) = delete;
  bool restored() const { return window_->hwnd() && !IsIconic(window_->hwnd()); }

 private:
  std::unique_ptr<test::PlainWindow> window_;
};

TEST(SingleInstance, ASecondStartEndsAndBringsTheRunningWindowBack) {
  std::unique_ptr<InstanceClaim> first = claimSingleInstance();
  ASSERT_TRUE(first) << "the first start in this session must run";
  RunningWindow running;
  EXPECT_FALSE(claimSingleInstance()) << "a second start ran beside the first";
  EXPECT_TRUE(running.restored());
  first.reset();
  EXPECT_TRUE(claimSingleInstance()) << "the claim outlived the program that held it";
}

TEST(SingleInstance, ACopyWhoseMutexDeniesFullAccessCountsAsRunning) {
  // Everyone may wait on it, nobody may do more: what a normal process meets
  // on the mutex of a copy started as administrator.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;;0x00100000;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  Handle elevated(CreateMutexW(&attributes, FALSE, kMutexName));
  LocalFree(descriptor);
  ASSERT_TRUE(elevated.get());
  // The situation itself: opening it as the program does is refused.
  {
    Handle probe(CreateMutexW(nullptr, FALSE, kMutexName));
    ASSERT_EQ(probe.get(), nullptr);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED))
        << "this system does not refuse the mutex; the case cannot be shown here";
  }

  RunningWindow running;
  testing::internal::CaptureStderr();
  const bool ran = static_cast<bool>(claimSingleInstance());
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(ran) << "a second reader started beside the elevated copy";
  EXPECT_NE(said.find("already runs"), std::string::npos) << said;
  EXPECT_TRUE(running.restored());
}

}  // namespace
}  // namespace zandrel
