#pragma once
// Calls from any thread onto the UI thread.
//
// The toolkit's windows may only be touched by the thread that made them,
// while the application calls the window layer and the page bridge from
// read-aloud threads too. Calls from other threads are queued here and served
// by the UI thread whenever it handles its events (the message loop, a modal
// box, processWaitingMessages); the caller waits for the result, at most
// until its deadline, the way a cross-apartment call does on Windows. The UI
// thread itself never waits for a caller, so there is no lock order to get
// wrong. Once the program is ending the window layer closes its queue: waiting
// callers are released with "not run", and later ones are refused at once, so
// that an exit routine which waits for such a thread cannot deadlock with it.
//
// The platform only wakes the UI thread (GTK: an idle source of the main
// context, runtime/ui_dispatcher_gtk.h; Win32: a message to the main window),
// which then calls drain().

#include <chrono>
#include <functional>
#include <memory>

namespace zandrel {

class UiDispatcher {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::time_point kNoDeadline = Clock::time_point::max();
  // Called from any thread, with no lock held, when calls wait and no drain
  // is due: it has the UI thread call drain() soon. False when the UI thread
  // cannot be reached (no window to wake); the waiting calls are then dropped.
  using Wake = std::function<bool()>;

  UiDispatcher();
  UiDispatcher(const UiDispatcher&) = delete;
  UiDispatcher& operator=(const UiDispatcher&) = delete;
  ~UiDispatcher();

  // The calling thread becomes the UI thread, woken by `wake`.
  void bindToCurrentThread(Wake wake);
  bool onUiThread() const;

  // Runs `fn` on the UI thread and returns once it has run: directly when
  // called on the UI thread, else queued and waited for. False when it did not
  // run: the deadline came first (it then never runs; one already started is
  // waited for), the queue is closed, or no UI thread exists yet. The UI
  // thread's own calls always run.
  bool invoke(std::function<void()> fn, Clock::time_point deadline = kNoDeadline);

  // Queues `fn` for the UI thread without waiting, also from the UI thread
  // itself (it runs at a later drain). False when the queue is closed.
  bool post(std::function<void()> fn);

  // UI thread only: refuses every later call and releases the waiting ones
  // without running them. Idempotent.
  void close();

  // UI thread only, on the platform's wake: runs the calls queued so far.
  void drain();

 private:
  struct Call;
  struct Queue;

  bool enqueue(std::shared_ptr<Call> call);

  std::shared_ptr<Queue> queue_;
};

}  // namespace zandrel
