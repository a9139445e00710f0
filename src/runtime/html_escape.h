#pragma once
// Escaping of plain text for HTML element content and quoted attribute
// values. Header-only, so the exam site, which links none of the program's
// libraries, shares it with the program's own pages.

#include <string>
#include <string_view>

namespace zandrel {

inline std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace zandrel
