#pragma once
// One host of the exam site: the mock exam of one subject at /kaoshi/, its
// result at /score/ and the pictures at /img/, served by cpp-httplib on a
// thread of its own. Every request is logged as one line.

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "site_questions.h"

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
  const std::string& address() const { return address_; }
  int port() const { return port_; }

  // Serves on a thread of its own and returns once connections are accepted;
  // false when serving could not begin.
  bool start();
  // Stops accepting, lets the requests in progress finish and joins the thread.
  void stop();
  // True when serving ended without stop() being asked for.
  bool failed() const { return loopEnded_ && !stopRequested_; }

  static constexpr std::size_t MaxStoredResults = 1000;
  static constexpr std::size_t MaxRequestBody = 64 * 1024;

 private:
  void installRoutes();
  void serveScore(const httplib::Request& request, httplib::Response& response);
  void handIn(const httplib::Request& request, httplib::Response& response);
  std::string storeResult(const ExamResult& result);
  bool findResult(const httplib::Request& request, ExamResult& result);

  const Subject subject_;
  const std::vector<Question> exam_;
  const LogSink log_;
  const std::string cookieName_;
  const std::string examPage_;

  httplib::Server server_;
  std::string address_;
  int port_ = 0;
  bool bound_ = false;
  std::thread thread_;
  std::atomic<bool> loopEnded_{false};
  std::atomic<bool> stopRequested_{false};

  // Handed-in results by the token in the browser's cookie, oldest first.
  std::mutex resultsMutex_;
  std::unordered_map<std::string, ExamResult> results_;
  std::deque<std::string> resultOrder_;
  std::random_device randomDevice_;
};

}  // namespace zandrel::site
