#pragma once
// A small HTTP/1.1 server on Boost.Beast and Boost.Asio, the same on Linux and
// Windows: one thread per server runs every connection asynchronously, reads
// one request, answers it through a handler and closes. Every limit a client
// could otherwise stretch is bounded: the time for a request head, the whole
// request and the answer, the size and number of header fields, and the
// number of connections still sending their request.

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "site_routes.h"

namespace zandrel::site {

// "2026-12-08T01:02:03 127.0.0.1:47101 GET /kaoshi/ 200" (local time). The
// method and path are written with logField, so they never break the line.
std::string formatLogLine(std::time_t when, std::string_view address, std::string_view method,
                          std::string_view path, int status);

// "host:port", with brackets around an IPv6 host.
std::string formatAddress(std::string_view host, int port);

// Why a host:port could not be bound.
enum class BindFailure {
  None,
  AddressInUse,      // another server (or another copy of this one) listens there
  PermissionDenied,  // a privileged port, or a firewall's rule
  NotHere,           // not an address of this machine
  UnknownHost,
  AlreadyBound,  // this server listens already
  Other,
};
// In a few words ("address in use").
std::string_view describe(BindFailure failure);

class HttpServer {
 public:
  using Handler = std::function<void(const SiteRequest&, SiteResponse&)>;
  using LogSink = std::function<void(const std::string& line)>;

  // The site's bounds; each is defined here only.
  struct Bounds {
    // Connections still sending their request: past it the oldest of them is
    // dropped for the newcomer.
    std::size_t maxConnections = 200;
    // Connections answered, or being answered: past it the oldest of them is
    // closed. They never keep a newcomer out.
    std::size_t maxAnswered = 1000;
    // From the connection's start to the end of its request head; past it the
    // client is answered 408 (or dropped when it sent nothing).
    std::chrono::milliseconds headTime{5000};
    // From the connection's start to the end of its request body.
    std::chrono::milliseconds requestTime{30000};
    // For sending the answer.
    std::chrono::milliseconds sendTime{10000};
    // When stopping: how long a connection still has to finish.
    std::chrono::milliseconds stopGrace{300};
    std::size_t maxRequestLine = 8192;       // longer: 414
    std::size_t maxHeaderLine = 8192;        // longer: 400
    std::size_t maxHeaderCount = 100;        // more: 431
    std::size_t maxHeaderBytes = 64 * 1024;  // more in all: 431
    std::size_t maxBody = 64 * 1024;         // longer: 413
    std::size_t maxFormBody = 8192;          // a longer url-encoded form: 413
  };

  // `log` gets one line per answered request (see formatLogLine); may be empty.
  HttpServer(Handler handle, LogSink log, Bounds bounds);
  HttpServer(Handler handle, LogSink log);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds host:port; port 0 takes any free port, which port() then tells.
  bool bind(const std::string& host, int port, BindFailure& failure);
  // As above, with the failure in a few words (see describe).
  bool bind(const std::string& host, int port, std::string& reason);
  const std::string& address() const;
  int port() const;

  // Serves on a thread of its own and returns once connections are accepted;
  // false when serving could not begin.
  bool start();
  // Stops accepting and gives the requests in progress a moment (a fraction
  // of a second) to finish; returns at once. stop() then waits for them.
  void requestStop();
  // Stops as requestStop() does and joins the thread: returns within a
  // second, whatever the clients do.
  void stop();
  // True when serving ended without stop() being asked for.
  bool failed() const;

  // Connections open now (accepted and not yet closed).
  std::size_t openConnections() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zandrel::site
