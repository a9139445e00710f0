#include "runtime/error_page.h"

namespace zandrel {

namespace {

std::string escapeHtml(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string unreachablePageHtml(const std::string& address) {
  std::string html =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>无法打开考试页面</title>"
      "</head><body style=\"margin:0\">"
      "<div style=\"position:absolute;left:517px;top:232px;width:960px;height:520px;"
      "box-sizing:border-box;padding:140px 80px 0;text-align:center;"
      "font-family:sans-serif;color:#333\">"
      "<h1 style=\"font-size:28px;margin:0 0 24px\">无法打开考试页面</h1>"
      "<p style=\"font-size:18px;margin:0 0 16px\">请检查网络或考试网站，然后在“菜单”中选择"
      "“科目一全真模拟考试”或“科目四全真模拟考试”重试。</p>"
      "<p style=\"font-size:14px;color:#777;margin:0;word-break:break-all\">";
  html += escapeHtml(address);
  html += "</p></div></body></html>";
  return html;
}

}  // namespace zandrel
