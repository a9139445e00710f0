// Calls onto the UI thread, with a thread of the test as the UI thread: what
// runs where, a caller's deadline, and the end after which nobody waits.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "runtime/ui_dispatcher.h"

namespace zandrel {
namespace {

using namespace std::chrono_literals;
using Clock = UiDispatcher::Clock;

// A UI thread that drains whenever it is woken, unless told to stall (a hung
// window). close() and stop() run on it, as the window layer's end does.
class UiThread {
 public:
  explicit UiThread(UiDispatcher& ui) : ui_(ui), thread_([this] { run(); }) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return bound_; });
  }
  ~UiThread() {
    onThread([this] { stopping_ = true; });
  }

  void stall(bool on) {
    std::lock_guard lock(mutex_);
    stalled_ = on;
    changed_.notify_all();
  }
  // Runs `task` on the UI thread and waits for it.
  void onThread(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    task_ = std::move(task);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !task_; });
    if (stopping_) {
      lock.unlock();
      thread_.join();
    }
  }
  std::thread::id id() const { return thread_.get_id(); }
  int wakes() const { return wakes_.load(); }

 private:
  void run() {
    ui_.bindToCurrentThread([this] {
      std::lock_guard lock(mutex_);
      ++wakes_;
      woken_ = true;
      changed_.notify_all();
      return true;
    });
    std::unique_lock lock(mutex_);
    bound_ = true;
    changed_.notify_all();
    while (!stopping_) {
      changed_.wait(lock, [this] { return (woken_ && !stalled_) || task_; });
      if (task_) {
        auto task = std::move(task_);
        lock.unlock();
        task();
        lock.lock();
        task_ = nullptr;
        changed_.notify_all();
        continue;
      }
      woken_ = false;
      lock.unlock();
      ui_.drain();
      lock.lock();
    }
  }

  UiDispatcher& ui_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool bound_ = false, woken_ = false, stalled_ = false, stopping_ = false;
  std::function<void()> task_;
  std::atomic<int> wakes_{0};
  std::thread thread_;
};

TEST(UiDispatcher, CallsRunOnTheUiThreadAndItsOwnPostsRunLater) {
  UiDispatcher ui;
  UiThread thread(ui);
  std::thread::id ranOn;
  EXPECT_TRUE(ui.invoke([&] { ranOn = std::this_thread::get_id(); }));
  EXPECT_EQ(ranOn, thread.id());

  std::atomic<int> order{0};
  int posted = -1;
  int direct = -1;
  thread.onThread([&] {
    EXPECT_TRUE(ui.post([&] { posted = order++; }));
    EXPECT_TRUE(ui.invoke([&] { direct = order++; }));  // its own call: at once
  });
  EXPECT_TRUE(ui.invoke([] {}));  // queued behind the post
  EXPECT_EQ(direct, 0);
  EXPECT_EQ(posted, 1);
  thread.onThread([&] { ui.close(); });
}

TEST(UiDispatcher, AHungUiThreadCostsACallerItsDeadlineAndTheCallNeverRunsLate) {
  UiDispatcher ui;
  UiThread thread(ui);
  thread.stall(true);
  bool ran = false;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(ui.invoke([&] { ran = true; }, start + 100ms));
  EXPECT_GE(Clock::now() - start, 100ms);
  thread.stall(false);
  EXPECT_TRUE(ui.invoke([] {}));
  EXPECT_FALSE(ran);
  thread.onThread([&] { ui.close(); });
}

TEST(UiDispatcher, TheEndReleasesWaitingCallersAndLaterCallsNeverWait) {
  UiDispatcher ui;
  UiThread thread(ui);
  thread.stall(true);
  std::atomic<bool> ran{false};
  std::thread waiting([&] { EXPECT_FALSE(ui.invoke([&] { ran = true; })); });
  while (thread.wakes() == 0) std::this_thread::sleep_for(1ms);  // the call is queued
  thread.onThread([&] { ui.close(); });
  waiting.join();
  EXPECT_FALSE(ran);

  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(ui.invoke([&] { ran = true; }));
  EXPECT_FALSE(ui.post([&] { ran = true; }));
  EXPECT_LT(Clock::now() - start, 50ms);
  bool own = false;
  thread.onThread([&] { own = ui.invoke([] {}); });
  EXPECT_TRUE(own);  // the exit routines still reach the controls
}

TEST(UiDispatcher, WithNoWayToWakeTheUiThreadACallIsRefusedAtOnce) {
  UiDispatcher ui;
  EXPECT_FALSE(ui.invoke([] {}));  // no UI thread yet
  std::thread([&] { ui.bindToCurrentThread([] { return false; }); }).join();
  bool ran = false;
  EXPECT_FALSE(ui.invoke([&] { ran = true; }));
  EXPECT_FALSE(ui.post([&] { ran = true; }));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace zandrel
