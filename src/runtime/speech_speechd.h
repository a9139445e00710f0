#pragma once
// The speech-dispatcher engine (libspeechd): one connection per voice, the
// daemon started on demand (autospawn). The daemon's voice list is read once
// per daemon instance and kept: listing espeak-ng's voices takes seconds,
// while a reading rebuilds its voice on every press of F1.

#include <memory>
#include <string>
#include <string_view>

#include "runtime/speech.h"

namespace zandrel {

std::unique_ptr<SpeechEngine> createSpeechDispatcherEngine();

// A voice's description: "<name> (<language>[, <variant>])". A voice for a
// Chinese language (zh, cmn, yue, wuu, hak, nan, ...) whose name does not say
// so reads "<name> (Chinese, <language>[, <variant>])", so that the voice
// choice finds it. A variant "none" is left out.
std::string describeSpeechdVoice(std::string_view name, std::string_view language,
                                 std::string_view variant);

}  // namespace zandrel
