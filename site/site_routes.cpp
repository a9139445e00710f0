#include "site_routes.h"

#include <cstdint>

#include "site_images.h"
#include "site_pages.h"
#include "site_text.h"

namespace zandrel::site {

namespace {

constexpr const char* HtmlType = "text/html; charset=utf-8";
constexpr std::size_t TokenLength = 32;

void sendPage(SiteResponse& response, std::string page) {
  response.headers.emplace_back("Cache-Control", "no-store");
  response.contentType = HtmlType;
  response.body = std::move(page);
}

void redirect(SiteResponse& response, std::string target, int status) {
  response.status = status;
  response.headers.emplace_back("Location", std::move(target));
}

bool isToken(std::string_view text) {
  if (text.size() != TokenLength) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The value of cookie `name` among all Cookie headers, or empty.
std::string cookieValue(const SiteRequest& request, std::string_view name) {
  for (const std::string& header : request.headerValues("Cookie")) {
    std::string_view rest = header;
    while (!rest.empty()) {
      const std::size_t end = rest.find(';');
      std::string_view pair = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
      if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
        return std::string(pair.substr(name.size() + 1));
    }
  }
  return {};
}

std::mutex bankFaultMutex;
std::string bankFaultText;

std::string bankFault() {
  const std::lock_guard<std::mutex> lock(bankFaultMutex);
  return bankFaultText.empty() ? std::string("题库中没有本科目的题目") : bankFaultText;
}

}  // namespace

void setBankFault(std::string fault) {
  const std::lock_guard<std::mutex> lock(bankFaultMutex);
  bankFaultText = std::move(fault);
}

std::vector<std::string> SiteRequest::headerValues(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) values.push_back(value);
  }
  return values;
}

bool SiteRequest::hasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (equalsIgnoringCase(header.first, name)) return true;
  }
  return false;
}

std::string SiteRequest::param(std::string_view name) const {
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  return {};
}

SiteRoutes::SiteRoutes(Subject subject, std::vector<Question> bank)
    : subject_(subject),
      bank_(std::move(bank)),
      cookieName_(subject == Subject::One ? "zandrel-k1" : "zandrel-k4"),
      random_((static_cast<std::uint64_t>(randomDevice_()) << 32) ^ randomDevice_()) {
  table_.push_back({"GET", "/kaoshi/", [this](const SiteRequest& request, SiteResponse& response) {
                      serveExam(request, response);
                    }});
  table_.push_back({"GET", "/score/", [this](const SiteRequest& request, SiteResponse& response) {
                      serveScore(request, response);
                    }});
  table_.push_back({"POST", "/score/", [this](const SiteRequest& request, SiteResponse& response) {
                      handIn(request, response);
                    }});
  // The pages are addressed with their trailing slash.
  table_.push_back({"GET", "/", [](const SiteRequest&, SiteResponse& response) {
                      redirect(response, "/kaoshi/", 302);
                    }});
  table_.push_back({"GET", "/kaoshi", [](const SiteRequest&, SiteResponse& response) {
                      redirect(response, "/kaoshi/", 301);
                    }});
  table_.push_back({"GET", "/score", [](const SiteRequest&, SiteResponse& response) {
                      redirect(response, "/score/", 301);
                    }});
  for (const SiteImage& image : siteImages()) {
    const std::string_view svg = image.svg;
    table_.push_back(
        {"GET", imagePath(image.name), [svg](const SiteRequest&, SiteResponse& response) {
           response.headers.emplace_back("Cache-Control", "max-age=3600");
           response.contentType = "image/svg+xml";
           response.body = std::string(svg);
         }});
  }
}

void SiteRoutes::dispatch(const SiteRequest& request, SiteResponse& response) const {
  std::string_view method = request.method;
  if (method == "HEAD") method = "GET";
  for (const Route& route : table_) {
    if (route.method == method && route.path == request.path) {
      route.handle(request, response);
      return;
    }
  }
  response = SiteResponse{};
  response.status = 404;
  addErrorPage(response);
}

void SiteRoutes::serveNotice(SiteResponse& response, std::string_view heading,
                             std::string_view message) {
  sendPage(response, renderNoticePage(subject_, heading, message));
}

std::string SiteRoutes::cookieHeader(const std::string& token) const {
  return cookieName_ + "=" + token + "; Path=/; HttpOnly; SameSite=Lax";
}

void SiteRoutes::serveExam(const SiteRequest&, SiteResponse& response) {
  if (bank_.empty()) {
    serveNotice(
        response, "题库有误",
        "题库文件有误，无法开始考试：" + bankFault() + "。请改正题库文件后重新打开本程序。");
    return;
  }
  std::string token;
  std::vector<const Question*> exam;
  {
    const std::lock_guard<std::mutex> lock(sittingsMutex_);
    const Clock::time_point now = now_();
    dropExpired(now);
    for (const std::size_t i : drawExam(bank_, examFormat(subject_), random_))
      exam.push_back(&bank_[i]);
    token = newToken();
    Sitting& sitting = sittings_[token];
    sitting.exam = exam;
    sitting.started = now;
    sittingOrder_.push_back(token);
    while (sittingOrder_.size() > MaxStoredResults) {
      sittings_.erase(sittingOrder_.front());
      sittingOrder_.pop_front();
    }
  }
  // Rendered outside the lock: the questions live as long as the routes.
  response.headers.emplace_back("Set-Cookie", cookieHeader(token));
  sendPage(response, renderExamPage(subject_, exam, token));
}

void SiteRoutes::serveScore(const SiteRequest& request, SiteResponse& response) {
  if (bank_.empty()) {
    serveNotice(response, "题库有误", "题库文件有误：" + bankFault() + "。");
    return;
  }
  const std::string token = cookieValue(request, cookieName_);
  std::vector<const Question*> exam;
  std::vector<ChoiceSet> given;
  ExamResult result;
  bool timedOut = false;
  {
    const std::lock_guard<std::mutex> lock(sittingsMutex_);
    const Clock::time_point now = now_();
    dropExpired(now);
    const auto found = isToken(token) ? sittings_.find(token) : sittings_.end();
    if (found == sittings_.end()) {
      if (token.empty()) {
        serveNotice(response, "模拟考试成绩", "暂无考试成绩，请先参加模拟考试。");
      } else {
        serveNotice(response, "模拟考试成绩",
                    "这场考试已过期或不存在，成绩已不再保留。请开始新的考试。");
      }
      return;
    }
    Sitting& sitting = found->second;
    if (!sitting.handedIn) {
      const auto deadline =
          sitting.started + std::chrono::minutes(examFormat(subject_).minutes) + HandInGrace;
      if (now < deadline) {
        serveNotice(response, "模拟考试成绩", "这场考试还没有交卷，还没有成绩。");
        return;
      }
      // The time ran out long ago and no hand-in came: the exam hands itself in.
      sitting.handedIn = true;
      sitting.timedOut = true;
      sitting.given.assign(sitting.exam.size(), 0);
      sitting.result = scoreExam(sitting.exam, sitting.given);
    }
    exam = sitting.exam;
    given = sitting.given;
    result = sitting.result;
    timedOut = sitting.timedOut;
  }
  sendPage(response, renderScorePage(subject_, exam, given, result, timedOut));
}

void SiteRoutes::handIn(const SiteRequest& request, SiteResponse& response) {
  // The page hands in in the background and shows the result only once the
  // site has taken it; a form sent without the page's script gets the
  // post/redirect/get answer, so either way the browser ends on exactly
  // http://host:port/score/ and a reload does not hand in again.
  const bool background = request.hasHeader("X-Requested-With");
  std::string token = request.param("sitting");
  if (!isToken(token)) token = cookieValue(request, cookieName_);
  bool known = false;
  {
    const std::lock_guard<std::mutex> lock(sittingsMutex_);
    dropExpired(now_());
    const auto found = isToken(token) ? sittings_.find(token) : sittings_.end();
    if (found != sittings_.end()) {
      known = true;
      Sitting& sitting = found->second;
      // A second hand-in (a retry whose first attempt did arrive) keeps the first.
      if (!sitting.handedIn) {
        sitting.handedIn = true;
        sitting.given = handedInAnswers(sitting.exam, request.params);
        sitting.result = scoreExam(sitting.exam, sitting.given);
      }
    }
  }
  response.headers.emplace_back("Cache-Control", "no-store");
  if (!known) {
    if (background) {
      response.status = 410;
      response.contentType = "text/plain; charset=utf-8";
      response.body = "expired\n";
    } else {
      serveNotice(response, "模拟考试成绩",
                  "这场考试已过期或不存在，答案无法交卷。请开始新的考试。");
    }
    return;
  }
  response.headers.emplace_back("Set-Cookie", cookieHeader(token));
  if (background) {
    response.contentType = "text/plain; charset=utf-8";
    response.body = "ok\n";
  } else {
    redirect(response, "/score/", 303);
  }
}

std::string SiteRoutes::newToken() {
  static constexpr char Hex[] = "0123456789abcdef";
  std::string token;
  do {
    token.clear();
    while (token.size() < TokenLength) {
      std::uint32_t bits = randomDevice_();
      for (int k = 0; k < 8 && token.size() < TokenLength; ++k, bits >>= 4)
        token += Hex[bits & 0xF];
    }
  } while (sittings_.contains(token));
  return token;
}

void SiteRoutes::dropExpired(Clock::time_point now) {
  while (!sittingOrder_.empty()) {
    const auto found = sittings_.find(sittingOrder_.front());
    if (found != sittings_.end() && now - found->second.started < SittingLifetime) return;
    if (found != sittings_.end()) sittings_.erase(found);
    sittingOrder_.pop_front();
  }
}

int missingLengthStatus(const SiteRequest& request) {
  const std::string& method = request.method;
  const bool mayHaveBody = method == "POST" || method == "PUT" || method == "PATCH" ||
                           method == "DELETE" || method == "PRI";
  if (!mayHaveBody || request.hasHeader("Content-Length") || request.hasHeader("Transfer-Encoding"))
    return 0;
  return method == "POST" && request.path == "/score/" ? 411 : 404;
}

void addErrorPage(SiteResponse& response) {
  if (response.status < 400 || !response.body.empty()) return;
  response.contentType = HtmlType;
  response.body = renderErrorPage(response.status);
}

std::string percentDecode(std::string_view text, bool plusIsSpace) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      decoded += ' ';
    } else {
      decoded += c;
    }
  }
  return decoded;
}

void addFormFields(std::string_view text, Fields& fields) {
  while (!text.empty()) {
    const std::size_t end = text.find('&');
    const std::string_view pair = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    const std::string_view key = pair.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    fields.emplace_back(percentDecode(key, true), percentDecode(value, true));
  }
}

}  // namespace zandrel::site
