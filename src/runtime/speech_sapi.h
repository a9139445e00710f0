#pragma once
// The SAPI 5 speech engine: one SpVoice per voice, every one of them made,
// used and released on the engine's one speech thread.

#include <memory>

#include "runtime/speech.h"

namespace zandrel {

std::unique_ptr<SpeechEngine> createSapiEngine();

}  // namespace zandrel
