#pragma once
// One host of the exam site: the mock exam of one subject at /kaoshi/, its
// result at /score/ and the pictures at /img/ (see SiteRoutes), served on
// threads of its own (HttpServer, the same on Linux and Windows). Every
// request is logged as one line.

#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "site_questions.h"
#include "site_routes.h"

namespace zandrel::site {

// "2026-12-08T01:02:03 127.0.0.1:47101 GET /kaoshi/ 200" (local time). The
// method and path are written with logField, so they never break the line.
std::string formatLogLine(std::time_t when, std::string_view address, std::string_view method,
                          std::string_view path, int status);

// "host:port", with brackets around an IPv6 host.
std::string formatAddress(std::string_view host, int port);

// Why host:port cannot be bound, in a few words ("address in use").
std::string describeBindFailure(const std::string& host, int port);

class SiteServer {
 public:
  using LogSink = std::function<void(const std::string& line)>;

  // `exam`: the subject's questions in the order the exam asks them.
  SiteServer(Subject subject, std::vector<Question> exam, LogSink log);
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // Binds host:port; port 0 takes any free port. On failure returns false and
  // sets `reason` (see describeBindFailure).
  bool bind(const std::string& host, int port, std::string& reason);
  const std::string& address() const;
  int port() const;

  // Serves on threads of its own and returns once connections are accepted;
  // false when serving could not begin.
  bool start();
  // Stops accepting and gives the requests in progress a moment (a fraction of
  // a second) to finish; returns at once. stop() then waits for them.
  void requestStop();
  // Stops as requestStop() does and joins the threads: returns within a
  // second, whatever the clients do.
  void stop();
  // True when serving ended without stop() being asked for.
  bool failed() const;

  static constexpr std::size_t MaxStoredResults = SiteRoutes::MaxStoredResults;
  static constexpr std::size_t MaxRequestBody = 64 * 1024;
  // A url-encoded form longer than this is refused with 413.
  static constexpr std::size_t MaxFormBody = 8192;
  // Header fields of one request: more of them, or more bytes of them in
  // all, are refused with 431.
  static constexpr std::size_t MaxHeaderCount = 100;
  static constexpr std::size_t MaxHeaderBytes = 64 * 1024;
  // Connections open at once; past it the oldest one still sending its
  // request makes room.
  static constexpr std::size_t MaxConnections = 200;
  // From a connection's start to the end of its request head (408 past it).
  static constexpr int RequestHeadSeconds = 5;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zandrel::site
