#include "runtime/window_layer_dispatch_gtk.h"

#include <utility>

namespace zandrel {

UiDispatcher::~UiDispatcher() {
  close();
  std::lock_guard lock(mutex_);
  if (source_ != 0) {
    g_source_remove(source_);
    source_ = 0;
  }
}

void UiDispatcher::bindToCurrentThread() {
  std::lock_guard lock(mutex_);
  uiThread_ = std::this_thread::get_id();
  bound_ = true;
}

bool UiDispatcher::onUiThread() const {
  std::lock_guard lock(mutex_);
  return bound_ && uiThread_ == std::this_thread::get_id();
}

bool UiDispatcher::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

void UiDispatcher::finish(Call& call, bool ran) {
  {
    std::lock_guard lock(call.mutex);
    call.done = true;
    call.ran = ran;
  }
  call.finished.notify_all();
}

bool UiDispatcher::enqueue(const std::shared_ptr<Call>& call) {
  std::lock_guard lock(mutex_);
  if (closed_ || !bound_) return false;
  queue_.push_back(call);
  if (source_ == 0) {
    // g_idle_add_full is safe from any thread and wakes the UI thread's context.
    source_ = g_idle_add_full(G_PRIORITY_DEFAULT, &UiDispatcher::drainThunk, this, nullptr);
  }
  return true;
}

bool UiDispatcher::invoke(std::function<void()> fn) {
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
  call->finished.wait(lock, [&] { return call->done; });
  return call->ran;
}

bool UiDispatcher::post(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  return enqueue(call);
}

gboolean UiDispatcher::drainThunk(gpointer self) {
  static_cast<UiDispatcher*>(self)->drain();
  return G_SOURCE_REMOVE;
}

void UiDispatcher::drain() {
  std::deque<std::shared_ptr<Call>> batch;
  {
    std::lock_guard lock(mutex_);
    source_ = 0;
    batch.swap(queue_);
  }
  while (!batch.empty()) {
    std::shared_ptr<Call> call = std::move(batch.front());
    batch.pop_front();
    if (closed()) {
      // A call run before this one ended the program: the rest are dropped.
      finish(*call, false);
      continue;
    }
    call->fn();
    call->fn = nullptr;  // release what it captured on the UI thread
    finish(*call, true);
  }
}

void UiDispatcher::close() {
  std::deque<std::shared_ptr<Call>> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
  }
  for (auto& call : dropped) {
    call->fn = nullptr;
    finish(*call, false);
  }
}

}  // namespace zandrel
