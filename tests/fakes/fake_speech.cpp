#include "fakes/fake_speech.h"

#include <atomic>
#include <thread>
#include <utility>

namespace zandrel::testing {

struct FakeSpeechEngine::State {
  mutable std::mutex mutex;
  bool available = true;
  bool accept = true;
  bool pauseResult = true;
  bool waitResult = true;
  bool eventsOnSpeak = false;
  std::vector<std::string> descriptions;
  std::vector<std::string> log;
  std::vector<VoiceEventCallback> callbacks;  // by creation order, kept after destruction
  std::size_t live = 0;
  std::chrono::milliseconds operationDelay{0};
  std::chrono::milliseconds createDelay{0};
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};

  void add(std::string entry) {
    std::lock_guard lock(mutex);
    log.push_back(std::move(entry));
  }
};

namespace {

// One voice operation in progress for as long as the engine's delay says; the
// delay is served outside the lock, so a second operation meanwhile shows.
class Operation {
 public:
  explicit Operation(FakeSpeechEngine::State& state) : state_(state) {
    if (state_.inside.fetch_add(1) != 0) state_.overlapped = true;
  }
  ~Operation() {
    std::chrono::milliseconds delay;
    {
      std::lock_guard lock(state_.mutex);
      delay = state_.operationDelay;
    }
    std::this_thread::sleep_for(delay);
    state_.inside.fetch_sub(1);
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  FakeSpeechEngine::State& state_;
};

class FakeVoice final : public SpeechVoice {
 public:
  FakeVoice(std::shared_ptr<FakeSpeechEngine::State> state, std::size_t index)
      : state_(std::move(state)), index_(index) {}
  ~FakeVoice() override {
    const Operation operation(*state_);
    std::lock_guard lock(state_->mutex);
    state_->log.push_back("destroy");
    --state_->live;
  }

  std::vector<std::string> voiceDescriptions() override {
    std::lock_guard lock(state_->mutex);
    return state_->descriptions;
  }
  bool selectVoice(std::size_t index) override {
    const Operation operation(*state_);
    std::lock_guard lock(state_->mutex);
    state_->log.push_back("select:" + std::to_string(index));
    return index < state_->descriptions.size();
  }
  bool pause() override {
    const Operation operation(*state_);
    std::lock_guard lock(state_->mutex);
    state_->log.push_back("pause");
    return state_->pauseResult;
  }
  bool speak(int mode, std::string_view text) override {
    const Operation operation(*state_);
    VoiceEventCallback callback;
    bool accepted = false;
    {
      std::lock_guard lock(state_->mutex);
      state_->log.push_back("speak:" + std::to_string(mode) + ":" + std::string(text));
      accepted = state_->accept;
      if (accepted && state_->eventsOnSpeak) callback = state_->callbacks[index_];
    }
    if (callback) {
      callback(kSpeechStart);
      callback(kSpeechEnd);
    }
    return accepted;
  }
  bool waitUntilDone(int timeoutMs) override {
    const Operation operation(*state_);
    std::lock_guard lock(state_->mutex);
    state_->log.push_back("wait:" + std::to_string(timeoutMs));
    return state_->waitResult;
  }

 private:
  std::shared_ptr<FakeSpeechEngine::State> state_;
  std::size_t index_;
};

}  // namespace

FakeSpeechEngine::FakeSpeechEngine() : state_(std::make_shared<State>()) {}
FakeSpeechEngine::~FakeSpeechEngine() = default;

void FakeSpeechEngine::setAvailable(bool available) {
  std::lock_guard lock(state_->mutex);
  state_->available = available;
}
void FakeSpeechEngine::setAcceptSpeech(bool accept) {
  std::lock_guard lock(state_->mutex);
  state_->accept = accept;
}
void FakeSpeechEngine::setPauseResult(bool result) {
  std::lock_guard lock(state_->mutex);
  state_->pauseResult = result;
}
void FakeSpeechEngine::setWaitResult(bool result) {
  std::lock_guard lock(state_->mutex);
  state_->waitResult = result;
}
void FakeSpeechEngine::setDescriptions(std::vector<std::string> descriptions) {
  std::lock_guard lock(state_->mutex);
  state_->descriptions = std::move(descriptions);
}
void FakeSpeechEngine::setEventsOnSpeak(bool on) {
  std::lock_guard lock(state_->mutex);
  state_->eventsOnSpeak = on;
}
void FakeSpeechEngine::setDelays(std::chrono::milliseconds operation,
                                 std::chrono::milliseconds create) {
  std::lock_guard lock(state_->mutex);
  state_->operationDelay = operation;
  state_->createDelay = create;
}

std::vector<std::string> FakeSpeechEngine::log() const {
  std::lock_guard lock(state_->mutex);
  return state_->log;
}
void FakeSpeechEngine::clearLog() {
  std::lock_guard lock(state_->mutex);
  state_->log.clear();
}
std::size_t FakeSpeechEngine::voicesCreated() const {
  std::lock_guard lock(state_->mutex);
  return state_->callbacks.size();
}
std::size_t FakeSpeechEngine::liveVoices() const {
  std::lock_guard lock(state_->mutex);
  return state_->live;
}
int FakeSpeechEngine::operationsInProgress() const {
  return state_->inside;
}
bool FakeSpeechEngine::overlapped() const {
  return state_->overlapped;
}

bool FakeSpeechEngine::emit(std::size_t index, SpeechEvent event) {
  VoiceEventCallback callback;
  {
    std::lock_guard lock(state_->mutex);
    if (index >= state_->callbacks.size()) return false;
    callback = state_->callbacks[index];
  }
  if (callback) callback(event);
  return true;
}

bool FakeSpeechEngine::emitLatest(SpeechEvent event) {
  std::size_t count = voicesCreated();
  return count > 0 && emit(count - 1, event);
}

std::unique_ptr<SpeechVoice> FakeSpeechEngine::createVoice(VoiceEventCallback onEvent) {
  std::unique_lock lock(state_->mutex);
  state_->log.push_back("create");
  if (const auto delay = state_->createDelay; delay.count() > 0) {
    lock.unlock();
    std::this_thread::sleep_for(delay);
    lock.lock();
  }
  if (!state_->available) return nullptr;
  state_->callbacks.push_back(std::move(onEvent));
  ++state_->live;
  return std::make_unique<FakeVoice>(state_, state_->callbacks.size() - 1);
}

NotificationSink RecordingSink::sink() {
  return [mutex = mutex_, deliveries = deliveries_](WindowHandle receiver, unsigned message,
                                                    std::uintptr_t wParam, std::intptr_t lParam) {
    std::lock_guard lock(*mutex);
    deliveries->push_back({receiver, message, wParam, lParam});
  };
}

std::vector<RecordingSink::Delivery> RecordingSink::deliveries() const {
  std::lock_guard lock(*mutex_);
  return *deliveries_;
}

std::vector<std::uintptr_t> RecordingSink::events() const {
  std::lock_guard lock(*mutex_);
  std::vector<std::uintptr_t> out;
  for (const Delivery& d : *deliveries_) out.push_back(d.wParam);
  return out;
}

}  // namespace zandrel::testing
