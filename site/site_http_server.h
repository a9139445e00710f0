#pragma once
// A small HTTP/1.1 server over the sockets of site_socket.h, the same on
// Linux and Windows: one thread accepts, each connection has a thread of its
// own that reads one request (site_http), answers it through a handler and
// closes. Every limit a client could otherwise stretch is bounded: the time
// for a request head, the whole request and the answer, the size and number
// of header fields, and the number of open connections.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "site_http.h"
#include "site_socket.h"

namespace zandrel::site {

class HttpServer {
 public:
  using LogSink = std::function<void(const std::string& line)>;

  struct Bounds {
    // More connections than this at once: the oldest one still sending its
    // request is dropped for the newcomer.
    std::size_t maxConnections = 200;
    // From the connection's start to the end of its request head; past it the
    // client is answered 408 (or dropped when it sent nothing).
    std::chrono::milliseconds headTime{5000};
    // From the connection's start to the end of its request body.
    std::chrono::milliseconds requestTime{30000};
    // For sending the answer.
    std::chrono::milliseconds sendTime{10000};
    // When stopping: how long a connection still has to finish.
    std::chrono::milliseconds stopGrace{300};
    http::Limits limits;
  };

  // `log` gets one line per answered request (see formatLogLine); may be empty.
  HttpServer(http::Handler handle, LogSink log, Bounds bounds);
  HttpServer(http::Handler handle, LogSink log);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // See SiteServer.
  bool bind(const std::string& host, int port, std::string& reason);
  const std::string& address() const { return address_; }
  int port() const { return port_; }
  bool start();
  void requestStop();
  void stop();
  bool failed() const { return loopEnded_ && !stopRequested_; }

  // Connections open now (accepted and not yet closed).
  std::size_t openConnections() const;

 private:
  struct Connection;
  void acceptLoop();
  void admit(net::Socket client);
  void reapFinished();
  void joinDropped();
  void serve(Connection& connection);

  const http::Handler handle_;
  const LogSink log_;
  const Bounds bounds_;
  const net::Library library_;
  net::Socket listener_;
  std::string address_;
  int port_ = 0;
  std::thread acceptThread_;
  std::atomic<bool> loopEnded_{false};
  std::atomic<bool> stopRequested_{false};

  mutable std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace zandrel::site
