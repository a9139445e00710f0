// SiteServer on Windows: a small HTTP/1.1 server over Winsock. One thread
// accepts; a few workers each read one request (site_http), answer it through
// SiteRoutes and close the connection. Every wait is a short select() so that
// stopping never hangs on a quiet client.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "site_http.h"
#include "site_server.h"

namespace zandrel::site {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WorkerCount = 8;
// Connections accepted but not yet taken by a worker; beyond this a new one
// is closed at once rather than queued without bound.
constexpr std::size_t MaxWaitingConnections = 64;
constexpr auto PollInterval = std::chrono::milliseconds(100);
// As cpp-httplib on Linux: a client quiet this long is given up.
constexpr auto ReadTimeout = std::chrono::seconds(5);
// However it trickles, one request may take no longer than this.
constexpr auto RequestTimeout = std::chrono::seconds(30);
// When stopping: how long a request already begun may still go quiet.
constexpr auto StopGrace = std::chrono::seconds(1);
constexpr DWORD SendTimeoutMs = 5000;
// Reading what a client still sends after its answer, before closing.
constexpr auto DrainTimeout = std::chrono::seconds(2);
constexpr std::size_t DrainMaxBytes = 1024 * 1024;

// Winsock is counted per process: each user starts and cleans up its own use.
class Winsock {
 public:
  Winsock() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Winsock() {
    if (started_) WSACleanup();
  }
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

class Socket {
 public:
  Socket() = default;
  explicit Socket(SOCKET socket) : socket_(socket) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      reset();
      socket_ = std::exchange(other.socket_, INVALID_SOCKET);
    }
    return *this;
  }
  SOCKET get() const { return socket_; }
  explicit operator bool() const { return socket_ != INVALID_SOCKET; }
  void reset() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

struct AddressListDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::string describeSocketError(int error) {
  switch (error) {
    case WSAEADDRINUSE:
      return "address in use";
    case WSAEACCES:
      return "permission denied";
    case WSAEADDRNOTAVAIL:
      return "not an address of this machine";
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN:
      return "unknown host";
    default:
      return "socket error " + std::to_string(error);
  }
}

// Binds and listens on the first address of host:port that allows it; on
// failure returns no socket and sets `error` (a WSA error code).
Socket listenOn(const std::string& host, int port, int& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    error = WSAHOST_NOT_FOUND;
    return {};
  }
  const std::unique_ptr<addrinfo, AddressListDeleter> list(found);
  error = WSAEADDRNOTAVAIL;
  for (const addrinfo* info = found; info != nullptr; info = info->ai_next) {
    Socket candidate(socket(info->ai_family, info->ai_socktype, info->ai_protocol));
    if (!candidate) {
      error = WSAGetLastError();
      continue;
    }
    // On Windows another program may otherwise bind the same port (with
    // SO_REUSEADDR) and take requests meant for the site.
    const BOOL yes = TRUE;
    setsockopt(candidate.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&yes), sizeof yes);
    if (::bind(candidate.get(), info->ai_addr, static_cast<int>(info->ai_addrlen)) != 0 ||
        listen(candidate.get(), SOMAXCONN) != 0) {
      error = WSAGetLastError();
      continue;
    }
    error = 0;
    return candidate;
  }
  return {};
}

int boundPort(const Socket& socket) {
  sockaddr_storage address{};
  int length = sizeof address;
  if (getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

// Waits up to PollInterval for `socket` to have something to read (or to
// accept); 1 ready, 0 not yet, -1 failed.
int waitReadable(SOCKET socket) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait{0, static_cast<long>(
                      std::chrono::duration_cast<std::chrono::microseconds>(PollInterval).count())};
  const int ready = select(0, &readable, nullptr, nullptr, &wait);
  return ready == SOCKET_ERROR ? -1 : (ready > 0 ? 1 : 0);
}

bool sendAll(SOCKET socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const int sent = send(socket, bytes.data(), chunk, 0);
    if (sent == SOCKET_ERROR || sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Ends the connection so that the answer arrives: closing a socket with
// unread input makes Windows reset the connection, and the client may then
// lose the answer (a refused oversized request is typically still sending).
// When `stopping` the client is not waited for.
void closeGracefully(SOCKET socket, const std::atomic<bool>& stopping) {
  shutdown(socket, SD_SEND);
  const auto until = Clock::now() + DrainTimeout;
  std::size_t drained = 0;
  char buffer[4096];
  while (Clock::now() < until && drained < DrainMaxBytes && !stopping) {
    const int ready = waitReadable(socket);
    if (ready < 0) return;
    if (ready == 0) continue;
    const int received = recv(socket, buffer, sizeof buffer, 0);
    if (received <= 0) return;
    drained += static_cast<std::size_t>(received);
  }
}

}  // namespace

class SiteServer::Impl {
 public:
  Impl(Subject subject, std::vector<Question> exam, LogSink log)
      : routes_(subject, std::move(exam)), log_(std::move(log)) {}
  ~Impl() { stop(); }

  bool bind(const std::string& host, int port, std::string& reason) {
    if (listener_ || stopRequested_) {
      reason = "already bound";
      return false;
    }
    if (!winsock_.started()) {
      reason = "Winsock is not available";
      return false;
    }
    int error = 0;
    Socket listener = listenOn(host, port, error);
    if (!listener) {
      reason = describeSocketError(error);
      return false;
    }
    if (port == 0) port = boundPort(listener);
    listener_ = std::move(listener);
    port_ = port;
    address_ = formatAddress(host, port);
    return true;
  }

  bool start() {
    if (!listener_ || acceptThread_.joinable() || stopRequested_) return false;
    try {
      for (int i = 0; i < WorkerCount; ++i) workers_.emplace_back([this] { work(); });
      acceptThread_ = std::thread([this] { acceptLoop(); });
    } catch (const std::exception&) {
      stop();
      return false;
    }
    return true;
  }

  void stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopRequested_ = true;
    }
    wake_.notify_all();
    if (acceptThread_.joinable()) acceptThread_.join();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
    {
      // Accepted but never begun: closed unanswered.
      const std::lock_guard<std::mutex> lock(mutex_);
      waiting_.clear();
    }
    listener_.reset();
  }

  bool failed() const { return loopEnded_ && !stopRequested_; }

  std::string address_;
  int port_ = 0;

 private:
  void acceptLoop();
  void work();
  void serve(SOCKET client);

  const Winsock winsock_;
  SiteRoutes routes_;
  const LogSink log_;
  Socket listener_;
  std::thread acceptThread_;
  std::vector<std::thread> workers_;
  std::atomic<bool> loopEnded_{false};
  std::atomic<bool> stopRequested_{false};

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Socket> waiting_;
};

void SiteServer::Impl::acceptLoop() {
  while (!stopRequested_) {
    const int ready = waitReadable(listener_.get());
    if (ready < 0) break;
    if (ready == 0) continue;
    Socket client(accept(listener_.get(), nullptr, nullptr));
    if (!client) {
      const int error = WSAGetLastError();
      // A client that gave up before being accepted, or a moment without
      // sockets to spare: neither ends serving.
      if (error == WSAECONNRESET || error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
      if (error == WSAEMFILE || error == WSAENOBUFS) {
        std::this_thread::sleep_for(PollInterval);
        continue;
      }
      break;
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (waiting_.size() >= MaxWaitingConnections) continue;  // closes `client`
      waiting_.push_back(std::move(client));
    }
    wake_.notify_one();
  }
  loopEnded_ = true;
}

void SiteServer::Impl::work() {
  while (true) {
    Socket client;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopRequested_ || !waiting_.empty(); });
      if (stopRequested_) return;
      client = std::move(waiting_.front());
      waiting_.pop_front();
    }
    try {
      serve(client.get());
    } catch (const std::exception&) {
      // Out of memory answering one client: that client is dropped, the
      // server goes on.
    }
  }
}

void SiteServer::Impl::serve(SOCKET client) {
  setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&SendTimeoutMs),
             sizeof SendTimeoutMs);
  const auto began = Clock::now();
  bool sentAnything = false;
  http::RequestReader reader([&](char* buffer, std::size_t size) -> long {
    const auto waitingSince = Clock::now();
    while (true) {
      const int ready = waitReadable(client);
      if (ready < 0) return -1;
      if (ready > 0) {
        const int received =
            recv(client, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
        if (received > 0) sentAnything = true;
        return received;
      }
      // When stopping, a connection that has sent nothing holds no request
      // in progress, and one that has gone quiet is not waited for long.
      const auto now = Clock::now();
      if (stopRequested_ && (!sentAnything || now - waitingSince > StopGrace)) return -1;
      if (now - waitingSince > ReadTimeout || now - began > RequestTimeout) return -1;
    }
  });

  const http::Exchange exchange = http::serveOne(
      reader, routes_, [client](std::string_view bytes) { return sendAll(client, bytes); });
  if (!exchange.answered) return;
  // Logged before the answer goes out, so whoever has the answer finds the line.
  if (log_)
    log_(formatLogLine(std::time(nullptr), address_, exchange.request.method, exchange.request.path,
                       exchange.response.status));
  if (sendAll(client,
              http::serializeResponse(exchange.response, exchange.request.method == "HEAD")))
    closeGracefully(client, stopRequested_);
}

#include "site_server_forward.inc"

std::string describeBindFailure(const std::string& host, int port) {
  const Winsock winsock;
  if (!winsock.started()) return "Winsock is not available";
  int error = 0;
  const Socket probe = listenOn(host, port, error);
  return probe ? "cannot bind" : describeSocketError(error);
}

}  // namespace zandrel::site
