#pragma once
// Text helpers of the exam site: escaping for the places a text ends up in
// (HTML, script literals, the request log) and the checks on question data.

#include <string>
#include <string_view>

#include "runtime/html_escape.h"  // escapeHtml, shared with the program's own pages
#include "runtime/text_units.h"

namespace zandrel::site {

// A double-quoted script string literal holding `text`. Characters that could
// end the surrounding <script> element or a script line are escaped as well.
std::string scriptStringLiteral(std::string_view text);

// UTF-8 validity and length, as the program has them.
using zandrel::codePointCount;
using zandrel::isValidUtf8;

// Checks the small markup allowed in a question text: the tags br, b, strong,
// i, u (balanced, no attributes) and character references (&name; &#n; &#xh;).
// Returns an empty text when `markup` is acceptable, otherwise why it is not.
std::string checkQuestionMarkup(std::string_view markup);

// One request-log field: printable ASCII stays, every other byte (spaces,
// controls, non-ASCII) becomes %XX, so a field never breaks the line or the
// column layout. An empty field is written as "-".
std::string logField(std::string_view text);

// ASCII letter case only: HTTP names are ASCII, and a locale must not decide.
char lowerAscii(char c);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The value of one hexadecimal digit, or -1 for any other character.
int hexValue(char c);

}  // namespace zandrel::site
