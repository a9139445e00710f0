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

}  // namespace

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

SiteRoutes::SiteRoutes(Subject subject, std::vector<Question> exam)
    : subject_(subject),
      exam_(std::move(exam)),
      cookieName_(subject == Subject::One ? "zandrel-k1" : "zandrel-k4"),
      examPage_(renderExamPage(subject_, exam_)) {
  table_.push_back({"GET", "/kaoshi/", [this](const SiteRequest&, SiteResponse& response) {
                      sendPage(response, examPage_);
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

void SiteRoutes::serveScore(const SiteRequest& request, SiteResponse& response) {
  ExamResult result;
  const bool known = findResult(request, result);
  sendPage(response, renderScorePage(subject_, known ? &result : nullptr));
}

void SiteRoutes::handIn(const SiteRequest& request, SiteResponse& response) {
  const ExamResult result =
      scoreExam(exam_, [&](const std::string& id) { return request.param(id); });
  const std::string token = storeResult(result);
  response.headers.emplace_back(
      "Set-Cookie", cookieName_ + "=" + token + "; Path=/score/; HttpOnly; SameSite=Lax");
  response.headers.emplace_back("Cache-Control", "no-store");
  // Post/redirect/get: the browser ends on exactly http://host:port/score/,
  // and reloading the result does not hand the exam in again.
  redirect(response, "/score/", 303);
}

std::string SiteRoutes::storeResult(const ExamResult& result) {
  static constexpr char Hex[] = "0123456789abcdef";
  const std::lock_guard<std::mutex> lock(resultsMutex_);
  std::string token;
  do {
    token.clear();
    while (token.size() < TokenLength) {
      std::uint32_t bits = randomDevice_();
      for (int k = 0; k < 8 && token.size() < TokenLength; ++k, bits >>= 4)
        token += Hex[bits & 0xF];
    }
  } while (results_.contains(token));
  results_.emplace(token, result);
  resultOrder_.push_back(token);
  while (resultOrder_.size() > MaxStoredResults) {
    results_.erase(resultOrder_.front());
    resultOrder_.pop_front();
  }
  return token;
}

bool SiteRoutes::findResult(const SiteRequest& request, ExamResult& result) {
  const std::string token = cookieValue(request, cookieName_);
  if (!isToken(token)) return false;
  const std::lock_guard<std::mutex> lock(resultsMutex_);
  const auto found = results_.find(token);
  if (found == results_.end()) return false;
  result = found->second;
  return true;
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
