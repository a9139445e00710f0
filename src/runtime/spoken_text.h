#pragma once
// Turns question markup into text a voice can read: no tags, entities decoded,
// line breaks and block ends as pauses, whitespace collapsed, image alt text kept.

#include <string>
#include <string_view>

namespace zandrel {

std::string spokenTextFromMarkup(std::string_view markup);

}  // namespace zandrel
