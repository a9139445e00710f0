#include "runtime/speech.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "runtime/spoken_text.h"
#include "runtime/text_units.h"

namespace zandrel {

// What the voices' event callbacks reach. It outlives the object (each callback
// holds it), so an event that arrives while or after the voice is destroyed,
// or after the object is gone, finds valid memory and is dropped: only events
// of the voice the object holds right now reach the receiver.
struct TextToSpeech::Relay {
  std::mutex mutex;
  NotificationSink sink;
  std::optional<WindowHandle> receiver;
  std::uint64_t liveVoice = 0;  // 0: no voice's events pass
  std::uint64_t lastVoice = 0;

  void deliver(std::uint64_t voice, SpeechEvent event) {
    std::lock_guard lock(mutex);
    if (voice != liveVoice || !receiver || !sink) return;
    // Under the lock, so that once destroy() has returned no event of the old
    // voice is delivered any more. The sink only queues a message.
    sink(*receiver, kSpeechNotification, static_cast<std::uintptr_t>(event), 0);
  }
};

std::optional<std::size_t> chooseVoice(const std::vector<std::string>& descriptions) {
  for (std::size_t i = 0; i < descriptions.size(); ++i) {
    const std::string lowered = asciiLowered(descriptions[i]);
    if (lowered.find("chinese") != std::string::npos || lowered.find("中文") != std::string::npos) {
      return i;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> SpeechVoice::preferredVoice(
    const std::vector<std::string>& descriptions) {
  return chooseVoice(descriptions);
}

TextToSpeech::TextToSpeech(SpeechEngine& engine, NotificationSink sink)
    : engine_(engine), relay_(std::make_shared<Relay>()) {
  relay_->sink = std::move(sink);
}

TextToSpeech::~TextToSpeech() {
  destroy();
}

void TextToSpeech::construct() {
  if (voice_) return;
  std::uint64_t id = 0;
  {
    std::lock_guard lock(relay_->mutex);
    id = ++relay_->lastVoice;
    relay_->liveVoice = id;
  }
  voice_ =
      engine_.createVoice([relay = relay_, id](SpeechEvent event) { relay->deliver(id, event); });
  if (!voice_) {
    std::lock_guard lock(relay_->mutex);
    relay_->liveVoice = 0;
    return;
  }
  if (const std::optional<std::size_t> chosen =
          voice_->preferredVoice(voice_->voiceDescriptions())) {
    voice_->selectVoice(*chosen);
  }
}

void TextToSpeech::destroy() {
  if (!voice_) return;
  {
    std::lock_guard lock(relay_->mutex);
    relay_->liveVoice = 0;
  }
  voice_.reset();
}

bool TextToSpeech::pause() {
  return voice_ && voice_->pause();
}

void TextToSpeech::reset() {
  destroy();
  construct();
}

bool TextToSpeech::speak(int mode, std::string_view text, int waitMs,
                         std::optional<WindowHandle> receiver) {
  if (!voice_) return false;
  if (mode < kSpeakText || mode > kSpeakNothing) return false;
  if (receiver) {
    std::lock_guard lock(relay_->mutex);
    relay_->receiver = receiver;
  }
  if (mode == kSpeakNothing) return true;
  const bool accepted = mode == kSpeakText ? voice_->speak(mode, spokenTextFromMarkup(text))
                                           : voice_->speak(mode, text);
  if (accepted && waitMs != 0) voice_->waitUntilDone(waitMs);
  return accepted;
}

bool TextToSpeech::speakPrepared(std::string_view spokenText,
                                 std::optional<WindowHandle> receiver) {
  if (!voice_) return false;
  if (receiver) {
    std::lock_guard lock(relay_->mutex);
    relay_->receiver = receiver;
  }
  return voice_->speak(kSpeakText, spokenText);
}

}  // namespace zandrel
