#pragma once
// A speech engine that records what is asked of its voices, can be made
// unreachable or refusing, and raises start and end events on request - also
// for voices already destroyed, as a real engine's late events would.
// Thread-safe: events may be raised from any thread while voices come and go.

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/speech.h"

namespace zandrel::testing {

class FakeSpeechEngine : public SpeechEngine {
 public:
  FakeSpeechEngine();
  ~FakeSpeechEngine() override;

  // createVoice answers nullptr while unavailable (default available).
  void setAvailable(bool available);
  // speak answers false while refusing (default accepting).
  void setAcceptSpeech(bool accept);
  // pause answers this (default true).
  void setPauseResult(bool result);
  // waitUntilDone answers this (default true).
  void setWaitResult(bool result);
  // The descriptions each voice reports (default none).
  void setDescriptions(std::vector<std::string> descriptions);
  // Every accepted speak raises start then end at once, on the caller's thread.
  void setEventsOnSpeak(bool on);
  // A slow speech service: every voice operation (pause, speak, destroy, ...)
  // takes `operation`, making a voice takes `create`.
  void setDelays(std::chrono::milliseconds operation, std::chrono::milliseconds create = {});

  // What the voices were asked, in order: "create" (every attempt, also a
  // failing one), "select:<index>", "pause", "speak:<mode>:<text>",
  // "wait:<ms>", "destroy".
  std::vector<std::string> log() const;
  void clearLog();
  // Voices created so far (successful attempts) and those still alive.
  std::size_t voicesCreated() const;
  std::size_t liveVoices() const;
  // Voice operations running right now, and whether two ever ran at once.
  int operationsInProgress() const;
  bool overlapped() const;

  // Raises `event` as the voice created `index`-th (0-based) would, whether or
  // not that voice still exists. Returns false when there is no such voice.
  bool emit(std::size_t index, SpeechEvent event);
  // The same for the most recently created voice.
  bool emitLatest(SpeechEvent event);

  std::unique_ptr<SpeechVoice> createVoice(VoiceEventCallback onEvent) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// A notification sink that records what it receives; thread-safe.
class RecordingSink {
 public:
  struct Delivery {
    WindowHandle receiver;
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  NotificationSink sink();
  std::vector<Delivery> deliveries() const;
  // Only the wParams (1 start, 2 end), in order.
  std::vector<std::uintptr_t> events() const;

 private:
  std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
  std::shared_ptr<std::vector<Delivery>> deliveries_ = std::make_shared<std::vector<Delivery>>();
};

}  // namespace zandrel::testing
