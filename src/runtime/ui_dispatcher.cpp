#include "runtime/ui_dispatcher.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace zandrel {

struct UiDispatcher::Call {
  std::function<void()> fn;
  std::mutex mutex;  // held while fn runs
  std::condition_variable finished;
  bool done = false;  // ran, or was dropped
  bool ran = false;
  bool abandoned = false;  // the caller's deadline came first: never run
};

struct UiDispatcher::Queue {
  mutable std::mutex mutex;
  std::deque<std::shared_ptr<Call>> calls;
  Wake wake;
  bool wakeDue = false;  // woken, and the drain has not begun yet
  bool closed = false;
  bool bound = false;
  std::thread::id uiThread;

  bool isClosed() const {
    std::lock_guard lock(mutex);
    return closed;
  }

  static void finish(Call& call, bool run) {
    std::lock_guard lock(call.mutex);
    if (run && !call.abandoned) {
      call.fn();
      call.ran = true;
    }
    call.fn = nullptr;  // release what it captured on the UI thread
    call.done = true;
    call.finished.notify_all();
  }

  void dropAll() {
    std::deque<std::shared_ptr<Call>> dropped;
    {
      std::lock_guard lock(mutex);
      wakeDue = false;
      dropped.swap(calls);
    }
    for (const auto& call : dropped) finish(*call, false);
  }
};

UiDispatcher::UiDispatcher() : queue_(std::make_shared<Queue>()) {}

UiDispatcher::~UiDispatcher() {
  close();
}

void UiDispatcher::bindToCurrentThread(Wake wake) {
  std::lock_guard lock(queue_->mutex);
  queue_->uiThread = std::this_thread::get_id();
  queue_->wake = std::move(wake);
  queue_->bound = true;
}

bool UiDispatcher::onUiThread() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->bound && queue_->uiThread == std::this_thread::get_id();
}

bool UiDispatcher::enqueue(std::shared_ptr<Call> call) {
  Wake wake;
  {
    std::lock_guard lock(queue_->mutex);
    if (queue_->closed || !queue_->bound) return false;
    queue_->calls.push_back(std::move(call));
    if (queue_->wakeDue) return true;
    queue_->wakeDue = true;
    wake = queue_->wake;
  }
  if (wake && wake()) return true;
  // Nothing will drain the queue: its calls are not run, this one included.
  queue_->dropAll();
  return false;
}

bool UiDispatcher::invoke(std::function<void()> fn, Clock::time_point deadline) {
  if (onUiThread()) {
    // Direct, even once closed: the UI thread ending the program (its exit
    // routines) may still read and write the controls that exist.
    fn();
    return true;
  }
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  if (!enqueue(call)) return false;
  std::unique_lock lock(call->mutex);
  const auto done = [&] { return call->done; };
  if (deadline == kNoDeadline) {
    call->finished.wait(lock, done);
  } else if (!call->finished.wait_until(lock, deadline, done)) {
    call->abandoned = true;
  }
  return call->ran;
}

bool UiDispatcher::post(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  return enqueue(std::move(call));
}

void UiDispatcher::close() {
  {
    std::lock_guard lock(queue_->mutex);
    queue_->closed = true;
  }
  queue_->dropAll();
}

void UiDispatcher::drain() {
  std::deque<std::shared_ptr<Call>> batch;
  {
    std::lock_guard lock(queue_->mutex);
    queue_->wakeDue = false;
    batch.swap(queue_->calls);
  }
  // A call run before another may end the program: the rest are dropped.
  for (const auto& call : batch) Queue::finish(*call, !queue_->isClosed());
}

}  // namespace zandrel
