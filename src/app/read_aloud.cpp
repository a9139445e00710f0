#include "app/read_aloud.h"

#include <atomic>
#include <condition_variable>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "app/main_window.h"
#include "page/web_page.h"
#include "runtime/services.h"
#include "runtime/spoken_text.h"
#include "runtime/window_layer.h"

namespace zandrel {
namespace {

struct RunCounter {
  std::mutex mutex;
  std::condition_variable ended;
  int running = 0;
};

template <class T>
class NeverDestroyed {
 public:
  NeverDestroyed() { ::new (static_cast<void*>(storage_)) T(); }
  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

RunCounter& runs() {
  static NeverDestroyed<RunCounter> instance;
  return instance.get();
}

class RunScope {
 public:
  RunScope() {
    std::lock_guard lock(runs().mutex);
    ++runs().running;
  }
  ~RunScope() {
    std::lock_guard lock(runs().mutex);
    --runs().running;
    runs().ended.notify_all();
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;
};

// Reads asked for, and whether a run is serving them. Only one run at a time
// goes through pause, reset, page read and speak; requests that come while it
// does are served by it, once, with a fresh start: ten presses during one slow
// reset make one more read, not ten.
struct ReadRequests {
  std::mutex mutex;
  std::uint64_t asked = 0;
  bool serving = false;
};

ReadRequests& requests() {
  static NeverDestroyed<ReadRequests> instance;
  return instance.get();
}

// One failure box at a time: a speech service that keeps failing would
// otherwise stack a box for every press.
std::atomic<bool> failureBoxOpen{false};

void reportFailure(WindowLayer& window) {
  if (failureBoxOpen.exchange(true)) return;
  messageBox(window, kConversionFailedText);
  failureBoxOpen = false;
}

// Prepares the text, then hands it over under the speaker's lock; the caption
// on success. True when the voice accepted it.
bool speakQuestion(WindowLayer& window, std::string_view questionText) {
  // Taken before the speaker's lock: window calls from a reading thread are
  // served by the UI thread, which may itself be waiting for that lock.
  const WindowHandle receiver = window.windowHandle(kReceiverLabel);
  // Markup of any size is turned into text outside the lock, so no other run
  // and no end of the program waits for it.
  const std::string spoken = spokenTextFromMarkup(questionText);
  bool accepted = false;
  speaker().with([&](TextToSpeech& s) { accepted = s.speakPrepared(spoken, receiver); });
  if (accepted) window.setCaption(kStatusLabel, kLoadedText);
  return accepted;
}

}  // namespace

// One operation at a time: the lock only guards the state, the operation runs
// with `busy_` set, so the end of the program can wait for it with a bound.
void SharedSpeaker::create(SpeechEngine& engine, NotificationSink sink) {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !busy_; });
  releasing_ = false;
  speech_.reset();
  speech_.emplace(engine, std::move(sink));
  busy_ = true;
  lock.unlock();
  // The first voice is made off the window's thread: a speech service that
  // accepts and never answers would otherwise hold the window back for the
  // whole probe. Reads that come meanwhile wait for it on their own threads.
  auto counted = std::make_shared<RunScope>();
  auto construct = [this, counted] {
    speech_->construct();
    std::lock_guard guard(mutex_);
    busy_ = false;
    if (releasing_) speech_.reset();
    idle_.notify_all();
  };
  try {
    std::thread(construct).detach();
  } catch (const std::system_error&) {
    construct();
  }
  // A voice that is ready at once is ready when start-up goes on.
  lock.lock();
  idle_.wait_for(lock, kStartWait, [this] { return !busy_; });
}

void SharedSpeaker::release() {
  std::unique_lock lock(mutex_);
  releasing_ = true;
  // Bounded: the end of the program must not wait for a slow speech service.
  // An operation still running then drops the speaker itself when it is done.
  if (!idle_.wait_for(lock, kReleaseWait, [this] { return !busy_; })) return;
  speech_.reset();
}

bool SharedSpeaker::with(const std::function<void(TextToSpeech&)>& op) {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !busy_; });
  if (releasing_ || !speech_) {
    speech_.reset();
    return false;
  }
  busy_ = true;
  lock.unlock();
  op(*speech_);
  lock.lock();
  busy_ = false;
  if (releasing_) speech_.reset();
  idle_.notify_all();
  return true;
}

SharedSpeaker& speaker() {
  static NeverDestroyed<SharedSpeaker> instance;
  return instance.get();
}

int ReadAloudRunsInProgress() {
  std::lock_guard lock(runs().mutex);
  return runs().running;
}

bool WaitForReadAloudRuns(std::chrono::milliseconds limit) {
  std::unique_lock lock(runs().mutex);
  return runs().ended.wait_for(lock, limit, [] { return runs().running == 0; });
}

std::int32_t SpeakAndReport(std::string_view questionText) {
  WindowLayer& window = *services().window;
  if (speakQuestion(window, questionText)) return 1;
  reportFailure(window);
  return 0;
}

std::int32_t ReadAloud() {
  RunScope run;
  ReadRequests& asked = requests();
  {
    std::lock_guard lock(asked.mutex);
    ++asked.asked;
    if (asked.serving) return 0;  // the run in progress reads again for it
    asked.serving = true;
  }
  WindowLayer& window = *services().window;
  bool accepted = false;
  for (;;) {
    std::uint64_t serving = 0;
    {
      std::lock_guard lock(asked.mutex);
      serving = asked.asked;
    }
    const auto superseded = [&] {
      std::lock_guard lock(asked.mutex);
      return asked.asked != serving;
    };
    WebPage page;
    speaker().with([](TextToSpeech& s) { s.pause(); });
    speaker().with([](TextToSpeech& s) { s.reset(); });
    if (superseded()) continue;
    page.attach(window.windowHandle(kBrowser));
    const std::string questionText = page.divInnerHtml("title", 1);
    if (superseded()) continue;
    accepted = speakQuestion(window, questionText);
    std::lock_guard lock(asked.mutex);
    if (asked.asked == serving) {
      asked.serving = false;
      break;
    }
  }
  // After the run has stopped serving: a box the user leaves open holds up
  // no later read.
  if (accepted) return 1;
  reportFailure(window);
  return 0;
}

void OnReadAloudMenu() {
  // The read runs on a thread of its own, as F1's does: the window never
  // waits for the speech service or the page.
  auto counted = std::make_shared<RunScope>();
  try {
    std::thread([counted] { ReadAloud(); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the read is lost, the window stays responsive.
  }
}

void OnReadAloudHotkey(std::int32_t /*id*/) {
  ReadAloud();
}

}  // namespace zandrel
