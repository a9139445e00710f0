#include "site_server.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "site_images.h"
#include "site_pages.h"
#include "site_text.h"

namespace zandrel::site {

namespace {

constexpr const char* HtmlType = "text/html; charset=utf-8";
constexpr std::size_t TokenLength = 32;

void sendPage(httplib::Response& response, std::string page) {
  response.set_header("Cache-Control", "no-store");
  response.set_content(std::move(page), HtmlType);
}

// "/kaoshi" -> "/kaoshi/": the pages are addressed with their trailing slash.
httplib::Server::Handler redirectTo(std::string target, int status) {
  return
      [target = std::move(target), status](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(target, status);
      };
}

std::string escapeForPattern(std::string_view literal) {
  std::string pattern;
  for (const char c : literal) {
    if (std::strchr(".^$|()[]{}*+?\\", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

bool isToken(std::string_view text) {
  if (text.size() != TokenLength) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The value of cookie `name` among all Cookie headers, or empty.
std::string cookieValue(const httplib::Request& request, std::string_view name) {
  const std::size_t headers = request.get_header_value_count("Cookie");
  for (std::size_t h = 0; h < headers; ++h) {
    const std::string header = request.get_header_value("Cookie", h);
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

std::string formatLogLine(std::time_t when, std::string_view address, std::string_view method,
                          std::string_view path, int status) {
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  if (std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local) == 0) stamp[0] = '\0';
  return std::string(stamp) + " " + std::string(address) + " " + logField(method) + " " +
         logField(path) + " " + std::to_string(status);
}

std::string formatAddress(std::string_view host, int port) {
  const bool ipv6 = host.find(':') != std::string_view::npos;
  return (ipv6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + std::to_string(port);
}

std::string describeBindFailure(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr)
    return "unknown host";
  int error = 0;
  for (const addrinfo* info = found; info != nullptr; info = info->ai_next) {
    const int probe = socket(info->ai_family, info->ai_socktype, info->ai_protocol);
    if (probe < 0) {
      error = errno;
      continue;
    }
    // Same options as the server socket, so the probe fails for the same reason.
    const int yes = 1;
    setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const int bound = ::bind(probe, info->ai_addr, info->ai_addrlen);
    error = bound == 0 ? 0 : errno;
    close(probe);
    if (bound == 0) break;
  }
  freeaddrinfo(found);
  switch (error) {
    case 0:
      return "cannot bind";
    case EADDRINUSE:
      return "address in use";
    case EACCES:
      return "permission denied";
    case EADDRNOTAVAIL:
      return "not an address of this machine";
    default:
      return std::strerror(error);
  }
}

SiteServer::SiteServer(Subject subject, std::vector<Question> exam, LogSink log)
    : subject_(subject),
      exam_(std::move(exam)),
      log_(std::move(log)),
      cookieName_(subject == Subject::One ? "zandrel-k1" : "zandrel-k4"),
      examPage_(renderExamPage(subject_, exam_)) {
  installRoutes();
}

SiteServer::~SiteServer() {
  // A bound socket is only released by the serving loop when it stops.
  if (bound_ && !thread_.joinable()) start();
  stop();
}

void SiteServer::installRoutes() {
  // httplib's default socket options include SO_REUSEPORT, with which a second
  // site (a stale one, say) could bind the same port and take every other
  // request. SO_REUSEADDR alone still allows a quick restart.
  server_.set_socket_options([](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_.set_payload_max_length(MaxRequestBody);
  // Short keep-alive: an idle browser connection must not hold up stopping.
  server_.set_keep_alive_timeout(2);

  // A request of a method that may carry a body but says neither how long the
  // body is nor that it is chunked would make httplib read until the client
  // closes (or times out); answer at once instead.
  server_.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    const bool mayHaveBody = request.method == "POST" || request.method == "PUT" ||
                             request.method == "PATCH" || request.method == "DELETE" ||
                             request.method == "PRI";
    if (mayHaveBody && !request.has_header("Content-Length") &&
        !request.has_header("Transfer-Encoding")) {
      const bool handInAddress = request.method == "POST" && request.path == "/score/";
      response.status = handInAddress ? 411 : 404;
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  server_.Get("/kaoshi/", [this](const httplib::Request&, httplib::Response& response) {
    sendPage(response, examPage_);
  });
  server_.Get("/score/", [this](const httplib::Request& request, httplib::Response& response) {
    serveScore(request, response);
  });
  server_.Post("/score/", [this](const httplib::Request& request, httplib::Response& response) {
    handIn(request, response);
  });
  server_.Get("/", redirectTo("/kaoshi/", 302));
  server_.Get("/kaoshi", redirectTo("/kaoshi/", 301));
  server_.Get("/score", redirectTo("/score/", 301));
  for (const SiteImage& image : siteImages()) {
    const std::string_view svg = image.svg;
    server_.Get(escapeForPattern(imagePath(image.name)),
                [svg](const httplib::Request&, httplib::Response& response) {
                  response.set_header("Cache-Control", "max-age=3600");
                  response.set_content(std::string(svg), "image/svg+xml");
                });
  }

  server_.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) response.set_content(renderErrorPage(response.status), HtmlType);
  });
  server_.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        response.set_content(renderErrorPage(500), HtmlType);
      });
  server_.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    if (log_)
      log_(formatLogLine(std::time(nullptr), address_, request.method, request.path,
                         response.status));
  });
}

bool SiteServer::bind(const std::string& host, int port, std::string& reason) {
  if (bound_) {
    reason = "already bound";
    return false;
  }
  if (port == 0) {
    port = server_.bind_to_any_port(host);
    if (port <= 0) {
      reason = describeBindFailure(host, 0);
      return false;
    }
  } else if (!server_.bind_to_port(host, port)) {
    reason = describeBindFailure(host, port);
    return false;
  }
  port_ = port;
  address_ = formatAddress(host, port);
  bound_ = true;
  return true;
}

bool SiteServer::start() {
  if (!bound_ || thread_.joinable()) return false;
  thread_ = std::thread([this] {
    server_.listen_after_bind();
    loopEnded_ = true;
  });
  while (!server_.is_running() && !loopEnded_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return !loopEnded_;
}

void SiteServer::stop() {
  if (!thread_.joinable()) return;
  // httplib's stop() acts only while the loop runs; start() waited for that.
  if (!stopRequested_.exchange(true) && server_.is_running()) server_.stop();
  thread_.join();
}

void SiteServer::serveScore(const httplib::Request& request, httplib::Response& response) {
  ExamResult result;
  const bool known = findResult(request, result);
  sendPage(response, renderScorePage(subject_, known ? &result : nullptr));
}

void SiteServer::handIn(const httplib::Request& request, httplib::Response& response) {
  const ExamResult result =
      scoreExam(exam_, [&](const std::string& id) { return request.get_param_value(id); });
  const std::string token = storeResult(result);
  response.set_header("Set-Cookie",
                      cookieName_ + "=" + token + "; Path=/score/; HttpOnly; SameSite=Lax");
  response.set_header("Cache-Control", "no-store");
  // Post/redirect/get: the browser ends on exactly http://host:port/score/,
  // and reloading the result does not hand the exam in again.
  response.set_redirect("/score/", 303);
}

std::string SiteServer::storeResult(const ExamResult& result) {
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

bool SiteServer::findResult(const httplib::Request& request, ExamResult& result) {
  const std::string token = cookieValue(request, cookieName_);
  if (!isToken(token)) return false;
  const std::lock_guard<std::mutex> lock(resultsMutex_);
  const auto found = results_.find(token);
  if (found == results_.end()) return false;
  result = found->second;
  return true;
}

}  // namespace zandrel::site
