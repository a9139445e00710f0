#include "runtime/error_page.h"

#include <map>
#include <mutex>

#include "runtime/html_escape.h"

namespace zandrel {
namespace {

struct SiteFailures {
  std::mutex mutex;
  std::map<std::string, std::string> causes;  // by address prefix
};

SiteFailures& siteFailures() {
  static SiteFailures failures;
  return failures;
}

std::string siteFailureOf(const std::string& address) {
  SiteFailures& failures = siteFailures();
  std::lock_guard lock(failures.mutex);
  for (const auto& [prefix, cause] : failures.causes) {
    if (address.rfind(prefix, 0) == 0) return cause;
  }
  return {};
}

}  // namespace

void setSiteFailure(const std::string& addressPrefix, const std::string& cause) {
  SiteFailures& failures = siteFailures();
  std::lock_guard lock(failures.mutex);
  std::string& causes = failures.causes[addressPrefix];
  causes += (causes.empty() ? "" : "；") + cause;
}

bool isFailedSiteAddress(const std::string& address) {
  return !siteFailureOf(address).empty();
}

void clearSiteFailures() {
  SiteFailures& failures = siteFailures();
  std::lock_guard lock(failures.mutex);
  failures.causes.clear();
}

std::string unreachablePageHtml(const std::string& address, std::string_view title,
                                std::string_view advice) {
  // The browser is 2000 x 2800 and the window shows page x 517-1477, y 232-820
  // of it, less what the frame takes and less the lowest 68 px at the
  // Subject 4 height: the message sits at the top left of that area and stays
  // well inside 900 x 240 px. Plain absolute positioning and no newer CSS, so
  // every document mode of every engine lays it out alike.
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n<title>";
  page += title;
  page +=
      "</title>\n<style>\n"
      "html,body{margin:0;padding:0;overflow:hidden;background:#dfe6ee}\n"
      "#unreachable{position:absolute;left:541px;top:256px;width:860px;padding:20px 24px;"
      "background:#fff;border-left:6px solid #d7141a;color:#1d2733;font-size:18px;"
      "line-height:30px;font-family:\"Microsoft YaHei\",\"微软雅黑\",\"Noto Sans CJK SC\","
      "\"WenQuanYi Micro Hei\",sans-serif}\n"
      "#unreachable h1{margin:0 0 8px 0;font-size:26px;line-height:40px;color:#d7141a}\n"
      "#unreachable p{margin:0}\n"
      "#address{margin-top:8px;color:#55606d;font-size:16px;word-wrap:break-word;"
      "word-break:break-all}\n"
      "</style>\n</head>\n<body>\n<div id=\"unreachable\">\n<h1>";
  page += title;
  page += "</h1>\n<p>";
  // Retrying or checking the network cannot help a site that never started:
  // the user (or whoever helps them) needs its cause.
  const std::string failure = siteFailureOf(address);
  if (failure.empty()) {
    page += advice;
  } else {
    page += kSiteFailedAdvice + escapeHtml(failure);
  }
  page += "</p>\n<p id=\"address\">";
  page += escapeHtml(address);
  page += "</p>\n</div>\n</body>\n</html>\n";
  return page;
}

}  // namespace zandrel
