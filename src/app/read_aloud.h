#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

#include "runtime/speech.h"

namespace zandrel {

inline constexpr std::string_view kLoadedText = "加载完毕";
inline constexpr std::string_view kConversionFailedText = "转换失败！";
// Spoken instead of a box when a read finds nothing to say: the learner may
// not be able to read a box.
inline constexpr std::string_view kNoQuestionCue = "没有找到题目";
inline constexpr std::string_view kPageLoadingCue = "页面还在加载";

// Reads the page's question aloud. Requests that arrive while a read is in
// progress are served by that read, which starts again from the pause; they
// return at once. 0 also for such a request. A read that finds no text fails:
// the status stays as it was and a short cue says why.
std::int32_t ReadAloud();
// Starts the read on a thread of its own and returns at once.
void OnReadAloudMenu();
void OnReadAloudHotkey(std::int32_t id);

// ZANDREL_LOG=1 in the environment: each read writes one line to standard
// error with the time of each stage and what the page search saw, so a read
// of nothing says why. Read once; when off, nothing is timed or written.
bool ReadLogRequested();

// The process-wide speaker. Every operation on it runs under one lock, one
// operation at a time — never across a page read, whose calls the UI thread
// serves. After release at the end of the program, operations are refused
// instead of touching a destroyed voice.
class SharedSpeaker {
 public:
  // How long release waits for an operation in progress.
  static constexpr std::chrono::milliseconds kReleaseWait{100};
  // How long start-up waits for the first voice before it goes on without it.
  static constexpr std::chrono::milliseconds kStartWait{100};

  void create(SpeechEngine& engine, NotificationSink sink);
  // Destroys the speaker, silencing it; when an operation is in progress
  // and does not end within kReleaseWait, that operation's run destroys it
  // as soon as it is done. Later operations are refused either way.
  void release();
  // Runs op on the speaker under the lock; false (op not run) without one.
  bool with(const std::function<void(TextToSpeech&)>& op);

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  bool busy_ = false;       // an operation runs on speech_
  bool releasing_ = false;  // the end of the program has come
  std::optional<TextToSpeech> speech_;
};

// Lives for the whole process, destructor never run: detached read-aloud
// threads may still reach it while the process ends.
SharedSpeaker& speaker();

// A bounded wait for the read-aloud runs still in progress, so the program
// does not tear the platform down under a reading thread.
bool WaitForReadAloudRuns(std::chrono::milliseconds limit);

}  // namespace zandrel
