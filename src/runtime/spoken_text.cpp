#include "runtime/spoken_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "runtime/text_units.h"

namespace zandrel {
namespace {

bool isSpace(char32_t cp) {
  return cp == ' ' || cp == '\t' || cp == '\n' || cp == '\r' || cp == '\f' || cp == '\v' ||
         cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 ||
         cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// Format characters (Unicode category Cf): zero-width marks, soft hyphens,
// bidirectional overrides and isolates, tags. They carry nothing to say, and a
// page's bidi override would only make the engine read the text backwards.
bool isFormatCharacter(char32_t cp) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kFormat[] = {{0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},
                                      {0x6DD, 0x6DD},     {0x70F, 0x70F},     {0x890, 0x891},
                                      {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200F},
                                      {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
                                      {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
                                      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
                                      {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F}};
  if (cp < 0xAD) return false;
  for (const Range& r : kFormat) {
    if (cp >= r.first && cp <= r.last) return true;
  }
  return false;
}

// Characters that carry nothing to say: controls and format characters. A NUL
// in particular would cut the text short at the engine.
bool isSilent(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || isFormatCharacter(cp);
}

// Combining marks (the blocks pages use to stack them): diacritics, Cyrillic,
// Hebrew, Arabic and Indic signs, Thai vowels and tones, kana sound marks,
// half marks, symbol marks.
bool isCombiningMark(char32_t cp) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kMarks[] = {
      {0x300, 0x36F},   {0x483, 0x489},   {0x591, 0x5BD},   {0x5BF, 0x5BF},    {0x5C1, 0x5C2},
      {0x5C4, 0x5C5},   {0x5C7, 0x5C7},   {0x610, 0x61A},   {0x64B, 0x65F},    {0x670, 0x670},
      {0x6D6, 0x6DC},   {0x6DF, 0x6E4},   {0x6E7, 0x6E8},   {0x6EA, 0x6ED},    {0x900, 0x903},
      {0x93A, 0x93C},   {0x93E, 0x94F},   {0x951, 0x957},   {0xE31, 0xE31},    {0xE34, 0xE3A},
      {0xE47, 0xE4E},   {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x20D0, 0x20F0},  {0x302A, 0x302F},
      {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xE0100, 0xE01EF}};
  if (cp < 0x300) return false;
  for (const Range& r : kMarks) {
    if (cp >= r.first && cp <= r.last) return true;
  }
  return false;
}

bool isAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isAsciiAlnum(char c) {
  return isAsciiAlpha(c) || isAsciiDigit(c);
}
bool isTagSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

struct NamedEntity {
  std::string_view name;
  char32_t cp;
};

// Named references met in question pages; names are case-sensitive.
constexpr NamedEntity kNamedEntities[] = {
    {"nbsp", 0xA0},     {"lt", '<'},        {"gt", '>'},        {"amp", '&'},
    {"quot", '"'},      {"apos", '\''},     {"ldquo", 0x201C},  {"rdquo", 0x201D},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"bdquo", 0x201E},
    {"hellip", 0x2026}, {"mdash", 0x2014},  {"ndash", 0x2013},  {"middot", 0xB7},
    {"bull", 0x2022},   {"times", 0xD7},    {"divide", 0xF7},   {"deg", 0xB0},
    {"plusmn", 0xB1},   {"copy", 0xA9},     {"reg", 0xAE},      {"trade", 0x2122},
    {"yen", 0xA5},      {"euro", 0x20AC},   {"pound", 0xA3},    {"cent", 0xA2},
    {"sect", 0xA7},     {"para", 0xB6},     {"laquo", 0xAB},    {"raquo", 0xBB},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"permil", 0x2030}, {"prime", 0x2032},
    {"Prime", 0x2033},  {"le", 0x2264},     {"ge", 0x2265},     {"ne", 0x2260},
    {"asymp", 0x2248},  {"micro", 0xB5},    {"frac12", 0xBD},   {"frac14", 0xBC},
    {"frac34", 0xBE},   {"sup1", 0xB9},     {"sup2", 0xB2},     {"sup3", 0xB3},
    {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009}, {"zwnj", 0x200C},
    {"zwj", 0x200D},    {"shy", 0xAD},      {"iexcl", 0xA1},    {"iquest", 0xBF},
    {"larr", 0x2190},   {"rarr", 0x2192},   {"uarr", 0x2191},   {"darr", 0x2193},
    {"harr", 0x2194},   {"radic", 0x221A},  {"infin", 0x221E},  {"minus", 0x2212},
    {"lowast", 0x2217}, {"sim", 0x223C},    {"ordm", 0xBA},     {"ordf", 0xAA},
    {"acute", 0xB4},    {"uml", 0xA8},      {"macr", 0xAF},     {"cedil", 0xB8},
    {"brvbar", 0xA6},
};

// Old pages write these without the closing semicolon; browsers accept that.
constexpr std::string_view kLegacyEntities[] = {"nbsp", "amp", "quot", "copy", "reg", "lt", "gt"};

std::optional<char32_t> namedEntity(std::string_view name) {
  for (const NamedEntity& e : kNamedEntities) {
    if (e.name == name) return e.cp;
  }
  return std::nullopt;
}

// Decodes a character reference at s[i] == '&'. Returns the bytes consumed, 0
// when there is no reference there (the '&' is then plain text). `cp` is
// nullopt for a numeric reference to something that is no character.
std::size_t decodeEntity(std::string_view s, std::size_t i, std::optional<char32_t>& cp) {
  std::size_t j = i + 1;
  if (j < s.size() && s[j] == '#') {
    ++j;
    const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
    if (hex) ++j;
    const std::size_t digitsStart = j;
    std::uint32_t value = 0;
    bool overflow = false;
    for (; j < s.size(); ++j) {
      const char c = s[j];
      int digit = -1;
      if (isAsciiDigit(c)) {
        digit = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        break;
      }
      value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
      if (value > 0x10FFFF) {
        overflow = true;  // keep reading the digits, but stop the value growing
        value = 0x110000;
      }
    }
    if (j == digitsStart) return 0;
    if (j < s.size() && s[j] == ';') ++j;
    if (overflow || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
      cp = std::nullopt;
    } else {
      cp = static_cast<char32_t>(value);
    }
    return j - i;
  }
  const std::size_t nameStart = j;
  while (j < s.size() && j - nameStart < 32 && isAsciiAlnum(s[j])) ++j;
  const std::string_view name = s.substr(nameStart, j - nameStart);
  if (name.empty()) return 0;
  if (j < s.size() && s[j] == ';') {
    if (const std::optional<char32_t> found = namedEntity(name)) {
      cp = found;
      return j + 1 - i;
    }
    return 0;
  }
  for (std::string_view legacy : kLegacyEntities) {
    if (name.substr(0, legacy.size()) == legacy) {
      cp = namedEntity(legacy);
      return 1 + legacy.size();
    }
  }
  return 0;
}

// Elements whose start and end are heard as a pause between their text and
// the text around them.
bool isBlockElement(std::string_view name) {
  static constexpr std::string_view kBlocks[] = {
      "address", "article", "aside",  "blockquote", "br",      "caption", "center",   "dd",
      "details", "dialog",  "dir",    "div",        "dl",      "dt",      "fieldset", "figcaption",
      "figure",  "footer",  "form",   "h1",         "h2",      "h3",      "h4",       "h5",
      "h6",      "header",  "hgroup", "hr",         "legend",  "li",      "main",     "menu",
      "nav",     "ol",      "p",      "pre",        "section", "summary", "table",    "tbody",
      "td",      "tfoot",   "th",     "thead",      "tr",      "ul"};
  return std::find(std::begin(kBlocks), std::end(kBlocks), name) != std::end(kBlocks);
}

// Elements whose content is code or inert, never text to read.
bool isUnreadElement(std::string_view name) {
  return name == "script" || name == "style" || name == "noscript" || name == "template";
}

// Collects the spoken text: white space collapsed, pauses merged, neither at
// the start or the end.
class SpokenText {
 public:
  void add(char32_t cp) {
    if (full()) return;
    if (isSpace(cp)) {
      space();
      return;
    }
    if (isSilent(cp)) return;
    if (isCombiningMark(cp)) {
      // Kept on the character before it, a few at most: a stack of marks is
      // no text, and a flood of them only makes the engine stall.
      if (marksOnBase_ >= kMaxCombiningMarks || out_.empty() || pendingSpace_ || pendingPause_) {
        return;
      }
      ++marksOnBase_;
    } else {
      marksOnBase_ = 0;
    }
    // Cut at a whole character, with room for the pause or space before it.
    if (characters_ + 1 + (pendingPause_ || pendingSpace_ ? 1 : 0) > kMaxSpokenCharacters) {
      full_ = true;
      return;
    }
    if (pendingPause_) {
      endSentence();
    } else if (pendingSpace_) {
      out_ += ' ';
      ++characters_;
    }
    pendingPause_ = false;
    pendingSpace_ = false;
    appendUtf8(out_, cp);
    ++characters_;
  }

  void space() { pendingSpace_ = !out_.empty(); }
  void pause() { pendingPause_ = !out_.empty(); }
  // Nothing more is taken once a character did not fit.
  bool full() const { return full_; }

  std::string take() { return std::move(out_); }

 private:
  // A pause is a sentence stop. A weaker mark already at the end becomes the
  // stop (the engine does not pause at "，" and garbles "！。"); a stop already
  // there is enough.
  void endSentence() {
    static constexpr std::string_view kWeakMarks[] = {"，", "、", "；", "：", "！", "．",
                                                      ",",  ";",  ":",  "!",  ".",  "·"};
    if (endsWith(kSpokenPause)) return;
    for (std::string_view mark : kWeakMarks) {
      if (endsWith(mark)) {
        out_.resize(out_.size() - mark.size());
        --characters_;
        break;
      }
    }
    out_ += kSpokenPause;
    ++characters_;
  }

  bool endsWith(std::string_view tail) const {
    return out_.size() >= tail.size() &&
           std::string_view(out_).substr(out_.size() - tail.size()) == tail;
  }

  std::string out_;
  std::size_t characters_ = 0;  // in out_
  int marksOnBase_ = 0;
  bool full_ = false;
  bool pendingSpace_ = false;
  bool pendingPause_ = false;
};

// Adds the character or character reference at s[i]; returns the bytes used.
std::size_t addCharacterAt(std::string_view s, std::size_t i, SpokenText& text) {
  if (s[i] == '&') {
    std::optional<char32_t> cp;
    if (const std::size_t used = decodeEntity(s, i, cp)) {
      if (cp) text.add(*cp);
      return used;
    }
  }
  char32_t cp = 0;
  const std::size_t used = decodeUtf8(s, i, cp);
  if (used == 0) return 1;  // a byte that is no character: nothing to say
  text.add(cp);
  return used;
}

void addDecoded(std::string_view s, SpokenText& text) {
  for (std::size_t i = 0; i < s.size();) i += addCharacterAt(s, i, text);
}

struct Tag {
  std::string name;  // lower-cased
  bool closing = false;
  std::optional<std::string_view> alt;  // raw value, references not yet decoded
  std::size_t end = 0;                  // index just after '>'
};

// Parses a start or end tag at s[i] == '<'. nullopt when the text there is not
// a complete tag (no name, or no closing '>' outside quotes).
std::optional<Tag> parseTag(std::string_view s, std::size_t i) {
  Tag tag;
  std::size_t j = i + 1;
  if (j < s.size() && s[j] == '/') {
    tag.closing = true;
    ++j;
  }
  if (j >= s.size() || !isAsciiAlpha(s[j])) return std::nullopt;
  const std::size_t nameStart = j;
  while (j < s.size() && !isTagSpace(s[j]) && s[j] != '>' && s[j] != '/') ++j;
  tag.name = asciiLowered(s.substr(nameStart, j - nameStart));
  while (j < s.size()) {
    const char c = s[j];
    if (c == '>') {
      tag.end = j + 1;
      return tag;
    }
    if (isTagSpace(c) || c == '/') {
      ++j;
      continue;
    }
    const std::size_t attrStart = j;
    while (j < s.size() && !isTagSpace(s[j]) && s[j] != '=' && s[j] != '>' && s[j] != '/') ++j;
    const std::string_view attr = s.substr(attrStart, j - attrStart);
    while (j < s.size() && isTagSpace(s[j])) ++j;
    if (j >= s.size() || s[j] != '=') continue;
    ++j;
    while (j < s.size() && isTagSpace(s[j])) ++j;
    if (j >= s.size()) break;
    std::string_view value;
    if (s[j] == '"' || s[j] == '\'') {
      const std::size_t close = s.find(s[j], j + 1);
      if (close == std::string_view::npos) return std::nullopt;
      value = s.substr(j + 1, close - j - 1);
      j = close + 1;
    } else {
      const std::size_t valueStart = j;
      while (j < s.size() && !isTagSpace(s[j]) && s[j] != '>') ++j;
      value = s.substr(valueStart, j - valueStart);
    }
    if (equalsIgnoringAsciiCase(attr, "alt")) tag.alt = value;
  }
  return std::nullopt;
}

// Index just after the end tag of the element `name` whose content starts at
// `from`, or the end of the text when it is never closed. Looks only at the
// content itself, so every element costs its own length.
std::size_t skipElementContent(std::string_view s, std::size_t from, std::string_view name) {
  for (std::size_t at = s.find("</", from); at != std::string_view::npos;
       at = s.find("</", at + 2)) {
    const std::size_t after = at + 2 + name.size();
    if (after > s.size() || !equalsIgnoringAsciiCase(s.substr(at + 2, name.size()), name)) continue;
    if (after == s.size() || isTagSpace(s[after]) || s[after] == '>' || s[after] == '/') {
      const std::size_t close = s.find('>', after);
      return close == std::string_view::npos ? s.size() : close + 1;
    }
  }
  return s.size();
}

// Reads markup once from start to end. Each search that fails runs to the end
// of the text, and its failure is remembered: the same search from a later
// point would fail too, so the time taken stays linear in the markup's length
// whatever the markup (a title of 80,000 unclosed comments or tags once took
// seconds).
class MarkupReader {
 public:
  explicit MarkupReader(std::string_view s) : s_(s) {}

  std::string read() {
    std::size_t i = 0;
    while (i < s_.size() && !text_.full()) {
      read_ = i;
      if (s_[i] == '<') {
        if (const std::optional<std::size_t> next = skipMarkup(i)) {
          i = *next;
        } else {
          text_.add('<');
          ++i;
        }
        continue;
      }
      i += addCharacterAt(s_, i, text_);
    }
    if (!text_.full()) read_ = s_.size();
    return text_.take();
  }
  // After read(): where the markup stopped giving text (the token that found
  // the text full is not counted).
  std::size_t readLength() const { return read_; }

 private:
  // Handles markup at s[i] == '<'; returns the index after it, or nullopt when
  // the '<' is plain text.
  std::optional<std::size_t> skipMarkup(std::size_t i) {
    const std::string_view rest = s_.substr(i);
    if (rest.substr(0, 4) == "<!--") {
      const std::size_t close = noCommentEnd_ ? std::string_view::npos : s_.find("-->", i + 4);
      // An unclosed comment loses only its opener, so no question text is lost.
      if (close == std::string_view::npos) {
        noCommentEnd_ = true;
        return i + 4;
      }
      return close + 3;
    }
    if (rest.substr(0, 2) == "<!" || rest.substr(0, 2) == "<?") {
      const std::size_t close = noTagEnd_ ? std::string_view::npos : s_.find('>', i + 2);
      if (close == std::string_view::npos) {
        noTagEnd_ = true;
        return std::nullopt;
      }
      return close + 1;
    }
    // A tag that once ran to the end of the text unclosed (no '>', or an open
    // quote) leaves the rest of the text as text: it holds no complete tag
    // that the browser would not have written as text itself.
    if (noTagEnd_) return std::nullopt;
    const std::optional<Tag> tag = parseTag(s_, i);
    if (!tag) {
      // Only a tag with a name was read on to the end of the text.
      const std::size_t name = i + 1 < s_.size() && s_[i + 1] == '/' ? i + 2 : i + 1;
      if (name < s_.size() && isAsciiAlpha(s_[name])) noTagEnd_ = true;
      return std::nullopt;
    }
    if (!tag->closing && isUnreadElement(tag->name)) {
      return skipElementContent(s_, tag->end, tag->name);
    }
    if (isBlockElement(tag->name)) {
      text_.pause();
    } else if (!tag->closing && tag->name == "img" && tag->alt && !tag->alt->empty()) {
      text_.space();
      addDecoded(*tag->alt, text_);
      text_.space();
    }
    return tag->end;
  }

  std::string_view s_;
  SpokenText text_;
  std::size_t read_ = 0;
  bool noCommentEnd_ = false;
  bool noTagEnd_ = false;
};

}  // namespace

std::string spokenTextFromMarkup(std::string_view markup) {
  return MarkupReader(markup).read();
}

std::size_t spokenMarkupLength(std::string_view markup) {
  MarkupReader reader(markup);
  reader.read();
  return reader.readLength();
}

bool isBlankText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp = 0;
    const std::size_t used = decodeUtf8(text, i, cp);
    if (used == 0) return false;
    if (!isSpace(cp) && !isSilent(cp)) return false;
    i += used;
  }
  return true;
}

}  // namespace zandrel
