#pragma once
// Turns question markup into text a voice can read: no tags, entities decoded,
// line breaks and block ends as pauses, whitespace collapsed, image alt text kept.

#include <cstddef>
#include <string>
#include <string_view>

namespace zandrel {

// The pause a line break or the end of a block becomes. espeak-ng's Mandarin
// voice stops for about a third of a second at the ideographic full stop,
// after Chinese and Latin text alike, while "，" or a line feed passes without
// an audible pause.
inline constexpr std::string_view kSpokenPause = "。";

// The most characters (code points) handed to a voice at once. The longest
// real question is a few hundred; a page that holds more is cut here, at a
// whole character, rather than keep the engine busy for minutes.
inline constexpr std::size_t kMaxSpokenCharacters = 10000;
// Combining marks kept on one base character; more of them are no text.
inline constexpr int kMaxCombiningMarks = 4;

// Takes time linear in the markup's length. Never throws and never drops
// readable text within the limit above: markup that is not well formed
// (a stray '<', an unclosed tag or quote) is read as the text it is. Invalid
// UTF-8, control and format characters (bidi controls among them), which no
// voice can say, are left out.
std::string spokenTextFromMarkup(std::string_view markup);

// How much of the start of `markup` gives all of its spoken text: the rest
// would add nothing once kMaxSpokenCharacters are reached. A whole token
// (tag, element, entity, character) at its end; markup.size() when the text
// never fills up.
std::size_t spokenMarkupLength(std::string_view markup);

// True when `text` holds nothing a voice would say: empty or only white space
// (ASCII, no-break and ideographic spaces).
bool isBlankText(std::string_view text);

}  // namespace zandrel
