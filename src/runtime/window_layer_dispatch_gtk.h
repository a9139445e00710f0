#pragma once
// Calls from any thread onto the UI thread's GLib main context.
//
// GTK and WebKit may only be touched by the thread that initialised them,
// while the application calls the window layer and the page bridge from
// read-aloud threads too. Calls from other threads are queued here and served
// by the UI thread whenever its main context is iterated (the message loop, a
// modal box, processWaitingMessages); the caller waits for the result, at most
// until its deadline, the way a cross-apartment call does on Windows. The UI
// thread itself never waits for a caller, so there is no lock order to get
// wrong. Once the program is ending the window layer closes its queue: waiting
// callers are released with "not run" so that an exit routine which waits for
// such a thread cannot deadlock with it.

#include <glib.h>

#include <chrono>
#include <functional>
#include <memory>

namespace zandrel {

class UiDispatcher {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

  UiDispatcher();
  UiDispatcher(const UiDispatcher&) = delete;
  UiDispatcher& operator=(const UiDispatcher&) = delete;
  ~UiDispatcher();

  // The calling thread becomes the UI thread.
  void bindToCurrentThread();
  bool onUiThread() const;

  // Runs `fn` on the UI thread and returns once it has run: directly when
  // called on the UI thread, else queued and waited for. False when it did not
  // run: the deadline came first (it then never runs; one already started is
  // waited for), the queue is closed, or no UI thread exists yet. The UI
  // thread's own calls always run.
  bool invoke(std::function<void()> fn, Clock::time_point deadline = kNoDeadline);

  // Queues `fn` for the UI thread without waiting, also from the UI thread
  // itself (it runs at a later iteration). False when the queue is closed.
  bool post(std::function<void()> fn);

  // UI thread only: refuses every later call and releases the waiting ones
  // without running them. Idempotent.
  void close();
  bool closed() const;

 private:
  struct Call;
  struct Queue;

  bool enqueue(std::shared_ptr<Call> call);

  // Shared with the idle source that drains it: the last owner of a
  // dispatcher need not be the UI thread, nor wait for a drain under way.
  std::shared_ptr<Queue> queue_;
};

}  // namespace zandrel
