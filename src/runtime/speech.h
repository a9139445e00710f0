#pragma once
// TextToSpeech: one voice of the system speech engine, behind a small engine
// interface (speech-dispatcher on Linux, SAPI 5 on Windows, a fake in tests).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/window_layer.h"

namespace zandrel {

enum SpeakMode : int { kSpeakText = 0, kSpeakFile = 1, kSpeakXml = 2, kSpeakNothing = 3 };
enum SpeechEvent : int { kSpeechStart = 1, kSpeechEnd = 2 };

// Called by a voice, on any thread, when it starts or ends speaking a request.
using VoiceEventCallback = std::function<void(SpeechEvent)>;

// One live voice of the engine. Destroying it stops whatever it speaks or has
// queued, at once.
class SpeechVoice {
 public:
  virtual ~SpeechVoice() = default;
  // The installed voices' descriptions, in the engine's order.
  virtual std::vector<std::string> voiceDescriptions() = 0;
  // Which of those to take; by default chooseVoice's choice.
  virtual std::optional<std::size_t> preferredVoice(const std::vector<std::string>& descriptions);
  virtual bool selectVoice(std::size_t index) = 0;
  virtual bool pause() = 0;
  // Asynchronous; `mode` is kSpeakText (already free of markup), kSpeakFile
  // or kSpeakXml. True when the engine accepted the request.
  virtual bool speak(int mode, std::string_view text) = 0;
  // Waits until the voice is done; negative waits without limit. True when done.
  virtual bool waitUntilDone(int timeoutMs) = 0;
};

class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  // A new voice, or nullptr when the engine cannot be reached. `onEvent`
  // receives the start and end of every request the voice speaks.
  virtual std::unique_ptr<SpeechVoice> createVoice(VoiceEventCallback onEvent) = 0;
};

// The first description that, lower-cased, contains "chinese" or "中文".
std::optional<std::size_t> chooseVoice(const std::vector<std::string>& descriptions);

// Delivers a speech notification to a receiver (the window layer's
// postNotification in the program).
using NotificationSink = std::function<void(WindowHandle, unsigned, std::uintptr_t, std::intptr_t)>;

// The speech object of the program. Operations on one object must not overlap
// (the caller keeps them apart); the voice's events may arrive on any thread at
// any time, also while the voice is being destroyed, and are relayed safely.
class TextToSpeech {
 public:
  TextToSpeech(SpeechEngine& engine, NotificationSink sink);
  ~TextToSpeech();
  TextToSpeech(const TextToSpeech&) = delete;
  TextToSpeech& operator=(const TextToSpeech&) = delete;

  // Creates the voice unless there is one, and chooses a Chinese voice when
  // the engine has one; the object stays empty when no voice can be created.
  void construct();
  // Drops the voice and whatever it speaks or has queued; its later events
  // reach nobody.
  void destroy();
  bool pause();
  // destroy + construct: a fresh voice, or another try at creating one.
  void reset();
  // Mode 0 text may carry markup; it is turned into speakable text first.
  // `waitMs` 0 returns at once, negative waits until done. A given receiver
  // becomes the object's receiver of start and end notifications.
  bool speak(int mode, std::string_view text, int waitMs = 0,
             std::optional<WindowHandle> receiver = std::nullopt);
  // Mode 0 for text already turned into speakable text (spokenTextFromMarkup),
  // so that callers prepare it before they take any lock; asynchronous.
  bool speakPrepared(std::string_view spokenText,
                     std::optional<WindowHandle> receiver = std::nullopt);
  bool empty() const { return voice_ == nullptr; }

 private:
  struct Relay;  // outlives the voice's callbacks
  SpeechEngine& engine_;
  std::shared_ptr<Relay> relay_;
  std::unique_ptr<SpeechVoice> voice_;
};

}  // namespace zandrel
