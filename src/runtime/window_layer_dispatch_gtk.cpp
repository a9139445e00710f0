#include "runtime/window_layer_dispatch_gtk.h"

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
  guint source = 0;  // the idle source that drains the queue, 0 when none
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

  static gboolean drain(gpointer data) {
    Queue& self = **static_cast<std::shared_ptr<Queue>*>(data);
    std::deque<std::shared_ptr<Call>> batch;
    {
      std::lock_guard lock(self.mutex);
      self.source = 0;
      batch.swap(self.calls);
    }
    // A call run before another may end the program: the rest are dropped.
    for (const auto& call : batch) finish(*call, !self.isClosed());
    return G_SOURCE_REMOVE;
  }

  static void release(gpointer data) {
    const std::unique_ptr<std::shared_ptr<Queue>> owner(static_cast<std::shared_ptr<Queue>*>(data));
  }
};

UiDispatcher::UiDispatcher() : queue_(std::make_shared<Queue>()) {}

UiDispatcher::~UiDispatcher() {
  close();
  std::lock_guard lock(queue_->mutex);
  if (queue_->source != 0) g_source_remove(queue_->source);
  queue_->source = 0;
}

void UiDispatcher::bindToCurrentThread() {
  std::lock_guard lock(queue_->mutex);
  queue_->uiThread = std::this_thread::get_id();
  queue_->bound = true;
}

bool UiDispatcher::onUiThread() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->bound && queue_->uiThread == std::this_thread::get_id();
}

bool UiDispatcher::closed() const {
  return queue_->isClosed();
}

bool UiDispatcher::enqueue(std::shared_ptr<Call> call) {
  std::lock_guard lock(queue_->mutex);
  if (queue_->closed || !queue_->bound) return false;
  queue_->calls.push_back(std::move(call));
  if (queue_->source == 0) {
    // g_idle_add_full is safe from any thread and wakes the UI thread's context.
    queue_->source = g_idle_add_full(G_PRIORITY_DEFAULT, &Queue::drain,
                                     std::make_unique<std::shared_ptr<Queue>>(queue_).release(),
                                     &Queue::release);
  }
  return true;
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
  std::deque<std::shared_ptr<Call>> dropped;
  {
    std::lock_guard lock(queue_->mutex);
    queue_->closed = true;
    dropped.swap(queue_->calls);
  }
  for (const auto& call : dropped) Queue::finish(*call, false);
}

}  // namespace zandrel
