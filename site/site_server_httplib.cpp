// SiteServer on Linux: cpp-httplib parses and answers, the routes come from
// SiteRoutes.

#include <httplib.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "site_pages.h"
#include "site_server.h"

namespace zandrel::site {

namespace {

constexpr const char* HtmlType = "text/html; charset=utf-8";

std::string escapeForPattern(std::string_view literal) {
  std::string pattern;
  for (const char c : literal) {
    if (std::strchr(".^$|()[]{}*+?\\", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

SiteRequest toSiteRequest(const httplib::Request& request) {
  SiteRequest site;
  site.method = request.method;
  site.path = request.path;
  for (const auto& header : request.headers) site.headers.emplace_back(header);
  // httplib has put the query's and a url-encoded body's fields here.
  for (const auto& param : request.params) site.params.emplace_back(param);
  return site;
}

void toHttplibResponse(SiteResponse site, httplib::Response& response) {
  // A plain 200 is left to httplib, which turns it into 206 for a Range request.
  if (site.status != 200) response.status = site.status;
  for (auto& [name, value] : site.headers) response.set_header(name, value);
  if (!site.contentType.empty()) response.set_content(std::move(site.body), site.contentType);
}

}  // namespace

class SiteServer::Impl {
 public:
  Impl(Subject subject, std::vector<Question> exam, LogSink log)
      : routes_(subject, std::move(exam)), log_(std::move(log)) {
    installRoutes();
  }

  ~Impl() {
    // A bound socket is only released by the serving loop when it stops.
    if (bound_ && !thread_.joinable()) start();
    stop();
  }

  bool bind(const std::string& host, int port, std::string& reason) {
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

  bool start() {
    if (!bound_ || thread_.joinable()) return false;
    thread_ = std::thread([this] {
      server_.listen_after_bind();
      loopEnded_ = true;
    });
    while (!server_.is_running() && !loopEnded_)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !loopEnded_;
  }

  void stop() {
    if (!thread_.joinable()) return;
    // httplib's stop() acts only while the loop runs; start() waited for that.
    if (!stopRequested_.exchange(true) && server_.is_running()) server_.stop();
    thread_.join();
  }

  bool failed() const { return loopEnded_ && !stopRequested_; }

  std::string address_;
  int port_ = 0;

 private:
  void installRoutes();

  SiteRoutes routes_;
  const LogSink log_;
  httplib::Server server_;
  bool bound_ = false;
  std::thread thread_;
  std::atomic<bool> loopEnded_{false};
  std::atomic<bool> stopRequested_{false};
};

void SiteServer::Impl::installRoutes() {
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
    const int status = missingLengthStatus(toSiteRequest(request));
    if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
    response.status = status;
    return httplib::Server::HandlerResponse::Handled;
  });

  for (const SiteRoutes::Route& route : routes_.table()) {
    const SiteRoutes::Handler& handle = route.handle;
    auto handler = [&handle](const httplib::Request& request, httplib::Response& response) {
      SiteResponse site;
      handle(toSiteRequest(request), site);
      toHttplibResponse(std::move(site), response);
    };
    // httplib answers HEAD with the GET handler and leaves out the body.
    if (route.method == "GET") {
      server_.Get(escapeForPattern(route.path), handler);
    } else if (route.method == "POST") {
      server_.Post(escapeForPattern(route.path), handler);
    }
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

#include "site_server_forward.inc"

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

}  // namespace zandrel::site
