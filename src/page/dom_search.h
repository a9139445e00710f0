#pragma once
// The DIV search that selects the question element. It runs wherever the
// document is: over remote automation in the program, or next to the page
// inside the browser engine's own process, so there is exactly one search.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "page/page_bridge.h"

namespace zandrel::dom {

// The number a key stands for: the decimal number at the start of the text
// (leading blanks and a sign allowed, an exponent too), its fraction cut off
// toward zero; 0 when the text does not begin with one. Saturates instead of
// overflowing, so an absurdly long number simply never equals an ordinal.
std::int64_t keyNumber(std::string_view key);

// What one search saw, for the program's diagnostic line: small numbers, so
// that it crosses from the engine's process as it is.
struct SearchTrace {
  // kLoading: the view is still on its way to a new page, so what it shows is
  // not the page the user asked for; set by the program's side, never by a search.
  enum Cause : std::uint8_t { kFound, kNoDocument, kTimedOut, kNoMatchingDiv, kEmptyDiv, kLoading };
  std::int32_t visited = 0;  // DIV elements looked at
  std::int32_t match = 0;    // position of the selected one among them, 0 for none
  std::uint8_t by = 0;       // what selected it, an index into kMatchedBy
  std::uint8_t cause = kNoDocument;
};

// The properties compared with the key, in the order they are read, then the
// rule that selects by the key's number.
inline constexpr std::array<std::string_view, 6> kMatchedBy = {"className", "innerText", "name",
                                                               "id",        "title",     "ordinal"};

// Texts are equal when their bytes are equal: case-sensitive, whole string.
inline bool textEquals(std::string_view a, std::string_view b) {
  return a == b;
}

// The DIV elements of `document` in document order (body.all.tags("div"), or
// document.getElementsByTagName("div") where that road fails); the `skip`+1-th one whose
// className, innerText, name, id or title equals `key`, or the element whose
// 1-based ordinal equals the key's number when none of its properties match.
// `ordinal` grows by one per element visited; -1 when nothing is selected.
// An empty document or any failing read yields an empty reference. A given
// trace receives what the search saw.
ObjectRef findDivElement(AutomationObject* document, std::string_view key, std::int32_t skip,
                         std::int32_t& ordinal, SearchTrace* trace = nullptr);

// The most markup a read hands on, whatever it holds: at most 10,000
// characters are spoken, and the markup is cut where its spoken text is full
// (boundedMarkup); this cap is for markup that says almost nothing (tens of
// thousands of empty elements) over megabytes.
inline constexpr std::size_t kMaxMarkupBytes = std::size_t{8} << 20;

// The start of `markup` a read needs: no more than gives the whole spoken
// text (spokenMarkupLength), and no more than `limit` bytes, cut before a
// UTF-8 sequence rather than inside one, and before a tag or entity the cut
// would leave open (the spoken-text rules read an unclosed '<' as text).
std::string_view boundedMarkup(std::string_view markup, std::size_t limit = kMaxMarkupBytes);

// The inner HTML of the element findDivElement selects (ordinal starting at
// 0), bounded by boundedMarkup, or the empty text.
std::string divInnerHtml(AutomationObject* document, std::string_view key, std::int32_t skip,
                         SearchTrace* trace = nullptr);

}  // namespace zandrel::dom
