#include "site_text.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zandrel::site {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

bool isAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isAsciiHexDigit(char c) {
  return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string scriptStringLiteral(std::string_view text) {
  std::string out = "\"";
  const auto unicodeEscape = [&](unsigned value) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += HexDigits[(value >> shift) & 0xF];
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&' || c == '\'') {
      // < > & keep "</script>" and "<!--" out of the element's raw text.
      unicodeEscape(c);
    } else if (c == 0xE2 && i + 2 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      // U+2028 and U+2029 end a line inside older script engines' string literals.
      unicodeEscape(static_cast<unsigned char>(text[i + 2]) == 0xA8 ? 0x2028 : 0x2029);
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

std::string checkQuestionMarkup(std::string_view markup) {
  static constexpr std::array<std::string_view, 5> InlineTags = {"b", "strong", "i", "u", "br"};
  std::vector<std::string_view> open;
  for (std::size_t i = 0; i < markup.size(); ++i) {
    const char c = markup[i];
    if (c == '>') return "a stray '>'";
    if (c == '&') {
      std::size_t end = i + 1;
      if (end < markup.size() && markup[end] == '#') {
        ++end;
        const bool hex = end < markup.size() && (markup[end] == 'x' || markup[end] == 'X');
        if (hex) ++end;
        const std::size_t digitsStart = end;
        while (end < markup.size() &&
               (hex ? isAsciiHexDigit(markup[end]) : isAsciiDigit(markup[end])))
          ++end;
        if (end == digitsStart || end - digitsStart > 6) return "a malformed character reference";
      } else {
        const std::size_t nameStart = end;
        while (end < markup.size() && (isAsciiAlpha(markup[end]) || isAsciiDigit(markup[end])))
          ++end;
        if (end == nameStart) return "a bare '&' (write &amp;)";
      }
      if (end >= markup.size() || markup[end] != ';') return "a character reference without ';'";
      i = end;
      continue;
    }
    if (c != '<') continue;
    const std::size_t close = markup.find('>', i);
    if (close == std::string_view::npos) return "an unclosed tag";
    std::string_view tag = markup.substr(i + 1, close - i - 1);
    const bool closing = !tag.empty() && tag.front() == '/';
    if (closing) tag.remove_prefix(1);
    if (!closing && !tag.empty() && tag.back() == '/') {
      tag.remove_suffix(1);
      while (!tag.empty() && tag.back() == ' ') tag.remove_suffix(1);
      if (tag != "br") return "a self-closed tag other than <br/>";
    }
    bool known = false;
    for (const std::string_view name : InlineTags) known = known || tag == name;
    if (!known)
      return "the tag <" + std::string(markup.substr(i + 1, close - i - 1)) +
             "> (allowed: br b strong i u)";
    if (tag != "br") {
      if (!closing) {
        open.push_back(tag);
      } else if (open.empty() || open.back() != tag) {
        return "</" + std::string(tag) + "> does not close the last open tag";
      } else {
        open.pop_back();
      }
    } else if (closing) {
      return "the tag </br>";
    }
    i = close;
  }
  if (!open.empty()) return std::string("<").append(open.back()).append("> is not closed");
  return {};
}

std::string logField(std::string_view text) {
  if (text.empty()) return "-";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c > 0x20 && c < 0x7F && c != '%') {
      out += ch;
    } else {
      out += '%';
      out += HexDigits[c >> 4];
      out += HexDigits[c & 0xF];
    }
  }
  return out;
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace zandrel::site
