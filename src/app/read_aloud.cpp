#include "app/read_aloud.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "app/main_window.h"
#include "page/web_page.h"
#include "runtime/services.h"
#include "runtime/spoken_text.h"
#include "runtime/text_units.h"
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

// The environment is read once; a running program does not change it.
bool readLogOn() {
  static const bool on = ReadLogRequested();
  return on;
}

struct ReadRecord {
  enum Stage { kReset, kPage, kText, kSpeak, kStages };
  using Clock = std::chrono::steady_clock;

  // The time since the previous lap goes to `stage`.
  void lap(Stage stage) {
    if (!readLogOn()) return;
    const Clock::time_point now = Clock::now();
    ms[stage] +=
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count());
    last = now;
  }

  void write() const {
    if (!readLogOn()) return;
    static constexpr const char* kSearchFailures[] = {
        "", "no document", "page timed out", "no matching DIV", "empty DIV", "page loading"};
    const char* failure =
        search.cause < std::size(kSearchFailures) ? kSearchFailures[search.cause] : "search failed";
    if (*failure == '\0' && chars == 0) failure = "empty DIV";
    if (*failure == '\0') failure = speechFailure;
    char match[48] = "match=none";
    if (search.match > 0 && search.by < dom::kMatchedBy.size()) {
      std::snprintf(match, sizeof match, "match=#%d by=%s", search.match,
                    dom::kMatchedBy[search.by].data());
    }
    std::fprintf(stderr,
                 "zandrel: read %s%s reset=%dms page=%dms text=%dms speak=%dms divs=%d %s "
                 "chars=%lu\n",
                 *failure != '\0' ? "failed: " : "ok", failure, ms[kReset], ms[kPage], ms[kText],
                 ms[kSpeak], search.visited, match, chars);
  }

  Clock::time_point last = readLogOn() ? Clock::now() : Clock::time_point();
  int ms[kStages] = {};
  dom::SearchTrace search;
  unsigned long chars = 0;         // of the spoken text, in characters
  const char* speechFailure = "";  // why the voice did not take it
};

enum class Outcome { kSpoken, kNothingFound, kRefused };

// Prepares the text, then hands it over under the speaker's lock; the caption
// on success. A text with nothing to say is no success: the cue that says why
// is spoken in its place and the caption is left alone.
Outcome speakQuestion(WindowLayer& window, std::string_view questionText, ReadRecord& record) {
  // Taken before the speaker's lock: window calls from a reading thread are
  // served by the UI thread, which may itself be waiting for that lock.
  const WindowHandle receiver = window.windowHandle(kReceiverLabel);
  record.lap(ReadRecord::kSpeak);
  // Markup of any size is turned into text outside the lock, so no other run
  // and no end of the program waits for it.
  const std::string spoken = spokenTextFromMarkup(questionText);
  record.lap(ReadRecord::kText);
  const bool found = !isBlankText(spoken);
  const std::string_view said = found ? spoken
                                : record.search.cause == dom::SearchTrace::kLoading
                                    ? kPageLoadingCue
                                    : kNoQuestionCue;
  bool accepted = false;
  bool voiced = false;
  speaker().with([&](TextToSpeech& s) {
    voiced = !s.empty();
    accepted = s.speakPrepared(said, receiver);
  });
  if (accepted && found) window.setCaption(kStatusLabel, kLoadedText);
  record.lap(ReadRecord::kSpeak);
  record.speechFailure = accepted ? "" : voiced ? "speech refused" : "no voice";
  if (readLogOn()) record.chars = codePointCount(spoken);
  if (!accepted) return Outcome::kRefused;
  return found ? Outcome::kSpoken : Outcome::kNothingFound;
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

bool WaitForReadAloudRuns(std::chrono::milliseconds limit) {
  std::unique_lock lock(runs().mutex);
  return runs().ended.wait_for(lock, limit, [] { return runs().running == 0; });
}

bool ReadLogRequested() {
  const char* value = std::getenv("ZANDREL_LOG");
  return value != nullptr && std::string_view(value) == "1";
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
  Outcome outcome = Outcome::kRefused;
  ReadRecord record;
  for (;;) {
    record = ReadRecord();
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
    record.lap(ReadRecord::kReset);
    if (superseded()) continue;
    page.attach(window.windowHandle(kBrowser));
    const std::string questionText = page.divInnerHtml("title", 1, &record.search);
    record.lap(ReadRecord::kPage);
    if (superseded()) continue;
    outcome = speakQuestion(window, questionText, record);
    std::lock_guard lock(asked.mutex);
    if (asked.asked == serving) {
      asked.serving = false;
      break;
    }
  }
  // Collapsed requests, served by this run, have no line of their own.
  record.write();
  // After the run has stopped serving: a box the user leaves open holds up
  // no later read. A read that found nothing has said so aloud already.
  if (outcome == Outcome::kSpoken) return 1;
  if (outcome == Outcome::kRefused) reportFailure(window);
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
