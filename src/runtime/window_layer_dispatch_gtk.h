#pragma once
// Calls from any thread onto the UI thread's GLib main context.
//
// GTK may only be touched by the thread that initialised it, while the
// application calls the window layer from read-aloud threads too. Calls from
// other threads are queued here and served by the UI thread whenever its main
// context is iterated (the message loop, a modal box, processWaitingMessages);
// the caller waits for the result. The UI thread itself never waits for a
// caller, so there is no lock order to get wrong. Once the program is ending
// the queue is closed: waiting callers are released with "not run" so that an
// exit routine which waits for such a thread cannot deadlock with it.

#include <glib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace zandrel {

class UiDispatcher {
 public:
  UiDispatcher() = default;
  UiDispatcher(const UiDispatcher&) = delete;
  UiDispatcher& operator=(const UiDispatcher&) = delete;
  ~UiDispatcher();

  // The calling thread becomes the UI thread.
  void bindToCurrentThread();
  bool onUiThread() const;

  // Runs `fn` on the UI thread and returns once it has run: directly when
  // called on the UI thread, else queued and waited for. False when it could
  // not run because the queue is closed (or no UI thread exists yet); the UI
  // thread's own calls always run.
  bool invoke(std::function<void()> fn);

  // Queues `fn` for the UI thread without waiting, also from the UI thread
  // itself (it runs at a later iteration). False when the queue is closed.
  bool post(std::function<void()> fn);

  // UI thread only: refuses every later call and releases the waiting ones
  // without running them. Idempotent.
  void close();
  bool closed() const;

 private:
  struct Call {
    std::function<void()> fn;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;  // ran, or was dropped by close()
    bool ran = false;
  };

  static gboolean drainThunk(gpointer self);
  void drain();
  bool enqueue(const std::shared_ptr<Call>& call);
  static void finish(Call& call, bool ran);

  mutable std::mutex mutex_;
  std::deque<std::shared_ptr<Call>> queue_;
  guint source_ = 0;  // the idle source that drains the queue, 0 when none
  bool closed_ = false;
  bool bound_ = false;
  std::thread::id uiThread_;
};

}  // namespace zandrel
