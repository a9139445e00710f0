#pragma once
// The SAPI 5 speech engine: one SpVoice per voice.

#include <memory>

#include "runtime/speech.h"

namespace zandrel {

std::unique_ptr<SpeechEngine> createSapiEngine();

}  // namespace zandrel
