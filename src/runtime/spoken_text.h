#pragma once
// Turns question markup into text a voice can read: no tags, entities decoded,
// line breaks and block ends as pauses, whitespace collapsed, image alt text kept.

#include <string>
#include <string_view>

namespace zandrel {

// The pause a line break or the end of a block becomes. espeak-ng's Mandarin
// voice stops for about a third of a second at the ideographic full stop,
// after Chinese and Latin text alike, while "，" or a line feed passes without
// an audible pause.
inline constexpr std::string_view kSpokenPause = "。";

// Never throws and never drops readable text: markup that is not well formed
// (a stray '<', an unclosed tag or quote) is read as the text it is. Invalid
// UTF-8 and control characters, which no voice can say, are left out.
std::string spokenTextFromMarkup(std::string_view markup);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view text);

// True when `text` holds nothing a voice would say: empty or only white space
// (ASCII, no-break and ideographic spaces).
bool isBlankText(std::string_view text);

}  // namespace zandrel
