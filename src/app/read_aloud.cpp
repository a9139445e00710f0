#include "app/read_aloud.h"

#include <condition_variable>
#include <new>
#include <string>

#include "app/main_window.h"
#include "page/web_page.h"
#include "runtime/services.h"
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

}  // namespace

void SharedSpeaker::create(SpeechEngine& engine, NotificationSink sink) {
  std::lock_guard lock(mutex_);
  speech_.reset();
  speech_.emplace(engine, std::move(sink));
  speech_->construct();
}

void SharedSpeaker::release() {
  std::lock_guard lock(mutex_);
  if (!speech_) return;
  speech_->destroy();
  speech_.reset();
}

bool SharedSpeaker::with(const std::function<void(TextToSpeech&)>& op) {
  std::lock_guard lock(mutex_);
  if (!speech_) return false;
  op(*speech_);
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
  // Taken before the speaker's lock: window calls from a reading thread are
  // served by the UI thread, which may itself be waiting for that lock.
  const WindowHandle receiver = window.windowHandle(kReceiverLabel);
  bool accepted = false;
  speaker().with([&](TextToSpeech& s) { accepted = s.speak(kSpeakText, questionText, 0, receiver); });
  if (accepted) {
    window.setCaption(kStatusLabel, kLoadedText);
    return 1;
  }
  messageBox(window, kConversionFailedText);
  return 0;
}

std::int32_t ReadAloud() {
  RunScope run;
  WebPage page;
  speaker().with([](TextToSpeech& s) { s.pause(); });
  speaker().with([](TextToSpeech& s) { s.reset(); });
  page.attach(services().window->windowHandle(kBrowser));
  const std::string questionText = page.divInnerHtml("title", 1);
  return SpeakAndReport(questionText);
}

void OnReadAloudMenu() { ReadAloud(); }

void OnReadAloudHotkey(std::int32_t /*id*/) { ReadAloud(); }

}  // namespace zandrel
