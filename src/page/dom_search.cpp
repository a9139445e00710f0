#include "page/dom_search.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "runtime/spoken_text.h"

namespace zandrel::dom {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Cuts toward zero and saturates: NaN counts as no number.
std::int64_t truncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9223372036854775807.0;  // rounds to 2^63
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(std::trunc(value));
}

// A collection's length as a loop count: never negative, never more than a
// 32-bit count, so a lying collection cannot make the loop overflow.
std::int64_t countFromLength(double length) {
  if (!(length >= 1.0)) return 0;  // also NaN
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  return length >= kMax ? static_cast<std::int64_t>(kMax)
                        : static_cast<std::int64_t>(std::trunc(length));
}

// Counting the ordinal up wraps around like 32-bit machine arithmetic instead
// of overflowing: the caller chooses the starting value.
std::int32_t nextOrdinal(std::int32_t ordinal) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ordinal) + 1u);
}

// The last of kMatchedBy is the ordinal rule, not a property.
constexpr std::uint8_t kByOrdinal = kMatchedBy.size() - 1;

}  // namespace

std::int64_t keyNumber(std::string_view key) {
  std::size_t pos = 0;
  while (pos < key.size() && isBlank(key[pos])) ++pos;
  bool negative = false;
  if (pos < key.size() && (key[pos] == '+' || key[pos] == '-')) {
    negative = key[pos] == '-';
    ++pos;
  }
  const std::string_view rest = key.substr(pos);
  // Only a decimal number: digits, or a point followed by a digit. This keeps
  // out "inf", "nan" and hexadecimal forms that a general parser would take.
  const bool startsNumber =
      !rest.empty() &&
      (isDigit(rest[0]) || (rest.size() > 1 && rest[0] == '.' && isDigit(rest[1])));
  if (!startsNumber) return 0;
  double value = 0;
  const auto [end, error] =
      std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // Too large or too small to represent: decide by the exponent's sign.
    const std::string_view number(rest.data(), static_cast<std::size_t>(end - rest.data()));
    const auto e = number.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
    if (tiny) return 0;
    return negative ? std::numeric_limits<std::int64_t>::min()
                    : std::numeric_limits<std::int64_t>::max();
  }
  if (error != std::errc()) return 0;
  return truncateToInt64(negative ? -value : value);
}

ObjectRef findDivElement(AutomationObject* document, std::string_view key, std::int32_t skip,
                         std::int32_t& ordinal, SearchTrace* trace) {
  ObjectRef divs;
  if (document != nullptr) {
    // Each intermediate reference goes as soon as the next one is obtained.
    ObjectRef current = document->getObject("body");
    if (current) current = current->getObject("all");
    if (current) divs = current->call("tags", std::string("div"));
    current.reset();
    // In a standards-mode document an element may have no `all`: the
    // document lists the same DIV elements, in the same order.
    if (!divs) divs = document->call("getElementsByTagName", std::string("div"));
  }
  const std::int64_t keyValue = keyNumber(key);
  const std::int64_t count = divs ? countFromLength(divs->getNumber("length")) : 0;

  ObjectRef element;
  std::int64_t i = 1;
  const auto selected = [&](std::uint8_t by) {
    if (trace != nullptr) {
      const auto at = static_cast<std::int32_t>(i);
      *trace = {at, at, by, SearchTrace::kFound};
    }
    return element;
  };
  for (; i <= count; ++i) {
    element.reset();
    element = divs->call("item", static_cast<double>(i - 1));
    ordinal = nextOrdinal(ordinal);

    std::uint8_t matched = kByOrdinal;
    for (std::uint8_t by = 0; by < kByOrdinal; ++by) {
      const std::string value = element ? element->getText(kMatchedBy[by]) : std::string();
      if (textEquals(value, key)) {
        matched = by;
        break;
      }
    }
    if (matched != kByOrdinal) {
      if (skip > 0) {
        --skip;
        continue;
      }
      return selected(matched);
    }
    if (ordinal == keyValue) return selected(kByOrdinal);
  }
  ordinal = -1;
  if (trace != nullptr) {
    *trace = {static_cast<std::int32_t>(count), 0, 0,
              document != nullptr ? SearchTrace::kNoMatchingDiv : SearchTrace::kNoDocument};
  }
  return nullptr;
}

std::string divInnerHtml(AutomationObject* document, std::string_view key, std::int32_t skip,
                         SearchTrace* trace) {
  std::int32_t ordinal = 0;
  const ObjectRef element = findDivElement(document, key, skip, ordinal, trace);
  std::string text = element ? element->getText("innerHTML") : std::string();
  if (element && text.empty() && trace != nullptr) trace->cause = SearchTrace::kEmptyDiv;
  text.resize(boundedMarkup(text).size());
  return text;
}

std::string_view boundedMarkup(std::string_view markup, std::size_t limit) {
  std::string_view kept = markup;
  if (kept.size() > limit) {
    std::size_t end = limit;
    // Back to the first byte of a sequence: continuation bytes are 10xxxxxx.
    while (end > 0 && (static_cast<unsigned char>(markup[end]) & 0xC0) == 0x80) --end;
    kept = markup.substr(0, end);
    const std::size_t tag = kept.rfind('<');
    if (tag != std::string_view::npos && kept.find('>', tag) == std::string_view::npos)
      kept = kept.substr(0, tag);
    // An entity is a few dozen characters at most; an '&' further back is text.
    constexpr std::size_t kLongestEntity = 32;
    const std::size_t entity = kept.rfind('&');
    if (entity != std::string_view::npos && kept.size() - entity <= kLongestEntity &&
        kept.find(';', entity) == std::string_view::npos)
      kept = kept.substr(0, entity);
  }
  return kept.substr(0, spokenMarkupLength(kept));
}

}  // namespace zandrel::dom
