#pragma once
// The speech-dispatcher engine: one SSIP connection per voice, every exchange
// on it with a deadline, the daemon started on demand (libspeechd's autospawn). The daemon's voice
// list is read once per daemon instance and kept: listing espeak-ng's voices takes seconds, while a
// reading rebuilds its voice on every press of F1.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/speech.h"

namespace zandrel {

std::unique_ptr<SpeechEngine> createSpeechDispatcherEngine();

// A voice's description: "<name> (<language>[, <variant>])". A voice for a
// Chinese language (zh, cmn, yue, wuu, hak, nan, ...) whose name does not say
// so reads "<name> (Chinese, <language>[, <variant>])", so that the voice
// choice finds it. A variant "none" is left out.
std::string describeSpeechdVoice(std::string_view name, std::string_view language,
                                 std::string_view variant);

// The voice to take among the daemon's: of those that chooseVoice's test
// passes, the one that reads Chinese characters in Mandarin when there is one
// (espeak-ng's "latin as Pinyin" voice, its base voice before the "+variant"
// copies); else chooseVoice's choice.
std::optional<std::size_t> chooseSpeechdVoice(const std::vector<std::string>& descriptions);

}  // namespace zandrel
