#pragma once
// One host of the exam site: the mock exam of one subject at /kaoshi/, its
// result at /score/ and the pictures at /img/ (see SiteRoutes), served on a
// thread of its own (HttpServer, the same on Linux and Windows). Every
// request is logged as one line.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "site_http_server.h"
#include "site_questions.h"
#include "site_routes.h"

namespace zandrel::site {

class SiteServer {
 public:
  using LogSink = HttpServer::LogSink;

  // `exam`: the subject's questions in the order the exam asks them.
  SiteServer(Subject subject, std::vector<Question> exam, LogSink log);
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // Binds host:port; port 0 takes any free port, which port() then tells. On
  // failure returns false and sets why.
  bool bind(const std::string& host, int port, BindFailure& failure);
  bool bind(const std::string& host, int port, std::string& reason);
  const std::string& address() const;
  int port() const;

  // Serves on a thread of its own and returns once connections are accepted;
  // false when serving could not begin.
  bool start();
  // Stops accepting and gives the requests in progress a moment (a fraction of
  // a second) to finish; returns at once. stop() then waits for them.
  void requestStop();
  // Stops as requestStop() does and joins the thread: returns within a
  // second, whatever the clients do.
  void stop();
  // True when serving ended without stop() being asked for.
  bool failed() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zandrel::site
