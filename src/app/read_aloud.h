#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "runtime/speech.h"

namespace zandrel {

inline constexpr std::string_view kLoadedText = "加载完毕";
inline constexpr std::string_view kConversionFailedText = "转换失败！";

std::int32_t ReadAloud();
std::int32_t SpeakAndReport(std::string_view questionText);
void OnReadAloudMenu();
void OnReadAloudHotkey(std::int32_t id);

// The process-wide speaker. Every operation on it runs under one lock, one
// operation at a time; after the speaker is released at the end of the
// program, operations are refused instead of touching a destroyed voice.
class SharedSpeaker {
 public:
  void create(SpeechEngine& engine, NotificationSink sink);
  void release();
  // Runs op on the speaker under the lock; returns false (without running it)
  // when there is no speaker.
  bool with(const std::function<void(TextToSpeech&)>& op);
};
SharedSpeaker& speaker();

}  // namespace zandrel
