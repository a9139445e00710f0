#include "site_http_server.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "site_server.h"

namespace zandrel::site {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every wait is cut into slices this long, so that a stop or a drop is seen
// within one of them.
constexpr milliseconds Slice{100};
// Reading what a client still sends after its answer, before closing: closing
// with unread input resets the connection, and the client may then lose the
// answer (a refused oversized request is typically still being sent).
constexpr milliseconds DrainTime{2000};
constexpr std::size_t DrainMaxBytes = 1024 * 1024;

}  // namespace

struct HttpServer::Connection {
  explicit Connection(net::Socket client) : socket(std::move(client)) {}
  net::Socket socket;
  const Clock::time_point began = Clock::now();
  std::thread thread;
  std::atomic<bool> answering{false};  // the request is read
  std::atomic<bool> dropped{false};    // to end at once, making room for a newer one
  std::atomic<bool> finished{false};
};

HttpServer::HttpServer(http::Handler handle, LogSink log, Bounds bounds)
    : handle_(std::move(handle)), log_(std::move(log)), bounds_(bounds) {}

HttpServer::HttpServer(http::Handler handle, LogSink log)
    : HttpServer(std::move(handle), std::move(log), Bounds{}) {}

HttpServer::~HttpServer() {
  stop();
}

bool HttpServer::bind(const std::string& host, int port, std::string& reason) {
  if (listener_ || stopRequested_) {
    reason = "already bound";
    return false;
  }
  if (!library_.ready()) {
    reason = "sockets are not available";
    return false;
  }
  net::Socket listener = net::listenOn(host, port, reason);
  if (!listener) return false;
  if (port == 0) port = net::localPort(listener);
  listener_ = std::move(listener);
  port_ = port;
  address_ = formatAddress(host, port);
  return true;
}

bool HttpServer::start() {
  if (!listener_ || acceptThread_.joinable() || stopRequested_) return false;
  try {
    acceptThread_ = std::thread([this] { acceptLoop(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void HttpServer::requestStop() {
  stopRequested_ = true;
}

void HttpServer::stop() {
  requestStop();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::list<std::unique_ptr<Connection>> open;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    open.swap(connections_);
  }
  for (const auto& connection : open) {
    if (connection->thread.joinable()) connection->thread.join();
  }
  listener_.reset();
}

std::size_t HttpServer::openConnections() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                [](const auto& c) { return !c->finished; }));
}

void HttpServer::acceptLoop() {
  while (!stopRequested_) {
    reapFinished();
    const net::Ready ready = net::waitReadable(listener_, Slice);
    if (ready == net::Ready::Failed) break;
    if (ready == net::Ready::No) continue;
    net::Socket client;
    const net::Accepted accepted = net::acceptClient(listener_, client);
    if (accepted == net::Accepted::Failed) break;
    if (accepted == net::Accepted::Busy) std::this_thread::sleep_for(Slice);
    if (accepted == net::Accepted::Client) admit(std::move(client));
  }
  loopEnded_ = true;
}

void HttpServer::admit(net::Socket client) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::size_t live = 0;
  std::size_t dropped = 0;
  Connection* oldestReading = nullptr;
  // In the order accepted, so the first still reading its request is the oldest.
  for (const auto& connection : connections_) {
    if (connection->finished) continue;
    if (connection->dropped) {
      ++dropped;
      continue;
    }
    ++live;
    if (!oldestReading && !connection->answering) oldestReading = connection.get();
  }
  if (live >= bounds_.maxConnections) {
    // Every connection is being answered, each then near its end: the
    // newcomer is closed unanswered.
    if (!oldestReading) return;
    oldestReading->dropped = true;
    ++dropped;
    // Its thread wakes and ends at once. Its socket is closed under the lock
    // (see below), so it is still open here.
    net::shutdownBoth(oldestReading->socket);
  }
  if (dropped >= bounds_.maxConnections) {
    // A flood of connections: the dropped ones end before more threads start.
    lock.unlock();
    joinDropped();
    lock.lock();
  }
  connections_.push_back(std::make_unique<Connection>(std::move(client)));
  Connection& connection = *connections_.back();
  try {
    connection.thread = std::thread([this, &connection] {
      try {
        serve(connection);
      } catch (const std::exception&) {
        // Out of memory answering one client: that client is dropped, the
        // server goes on.
      }
      const std::lock_guard<std::mutex> lock(mutex_);
      connection.socket.reset();
      connection.finished = true;
    });
  } catch (const std::system_error&) {
    connections_.pop_back();
  }
}

void HttpServer::joinDropped() {
  std::list<std::unique_ptr<Connection>> dropped;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      const auto next = std::next(it);
      if ((*it)->dropped) dropped.splice(dropped.end(), connections_, it);
      it = next;
    }
  }
  for (const auto& connection : dropped) connection->thread.join();
}

void HttpServer::reapFinished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      const auto next = std::next(it);
      if ((*it)->finished) finished.splice(finished.end(), connections_, it);
      it = next;
    }
  }
  for (const auto& connection : finished) connection->thread.join();
}

void HttpServer::serve(Connection& connection) {
  const net::Socket& socket = connection.socket;
  std::optional<Clock::time_point> stopDeadline;

  enum class Wait { Go, Expired, End };
  // Whether to wait on for something due by `until`, and how long at most.
  // Expired: `until` has passed. End: dropped, or stopping and out of grace.
  const auto mayWait = [&](Clock::time_point until, milliseconds& slice) {
    if (connection.dropped) return Wait::End;
    const auto now = Clock::now();
    if (stopRequested_) {
      if (!stopDeadline) stopDeadline = now + bounds_.stopGrace;
      if (now >= *stopDeadline) return Wait::End;
    }
    if (now >= until) return Wait::Expired;
    auto limit = until;
    if (stopDeadline) limit = std::min(limit, *stopDeadline);
    slice = std::clamp(std::chrono::ceil<milliseconds>(limit - now), milliseconds(1), Slice);
    return Wait::Go;
  };

  bool expired = false;
  bool cutOff = false;  // dropped, or stopping: the request is left unanswered
  bool receivedAny = false;
  const http::RequestReader* self = nullptr;
  http::RequestReader reader(
      [&](char* buffer, std::size_t size) -> long {
        const bool head = self->readingHead();
        const auto until = connection.began + (head ? bounds_.headTime : bounds_.requestTime);
        while (true) {
          const long received = net::receiveSome(socket, buffer, size);
          if (received > 0) receivedAny = true;
          if (received >= 0) return received;
          if (received == net::Broken) return -1;
          milliseconds slice{};
          const Wait wait = mayWait(until, slice);
          if (wait != Wait::Go) {
            expired = wait == Wait::Expired;
            cutOff = wait == Wait::End;
            return -1;
          }
          if (net::waitReadable(socket, slice) == net::Ready::Failed) return -1;
        }
      },
      bounds_.limits);
  self = &reader;

  const auto sendAll = [&](std::string_view bytes) {
    const auto until = Clock::now() + bounds_.sendTime;
    while (!bytes.empty()) {
      const long sent = net::sendSome(socket, bytes.data(), bytes.size());
      if (sent == net::Broken) return false;
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
        continue;
      }
      milliseconds slice{};
      if (mayWait(until, slice) != Wait::Go) return false;
      if (net::waitWritable(socket, slice) == net::Ready::Failed) return false;
    }
    return true;
  };

  http::Exchange exchange = http::serveOne(reader, handle_, sendAll);
  connection.answering = true;
  // Too slow: whatever was understood so far, the answer is that time ran out.
  if (expired && (exchange.answered || receivedAny)) {
    exchange.answered = true;
    exchange.response = SiteResponse{};
    exchange.response.status = 408;
    addErrorPage(exchange.response);
  }
  if (!exchange.answered || cutOff || connection.dropped) return;
  // Logged before the answer goes out, so whoever has the answer finds the line.
  if (log_)
    log_(formatLogLine(std::time(nullptr), address_, exchange.request.method, exchange.request.path,
                       exchange.response.status));
  if (!sendAll(http::serializeResponse(exchange.response, exchange.request.method == "HEAD")))
    return;

  net::shutdownSending(socket);
  const auto until = Clock::now() + DrainTime;
  std::size_t drained = 0;
  char buffer[4096];
  while (drained < DrainMaxBytes && !stopRequested_) {
    const long received = net::receiveSome(socket, buffer, sizeof buffer);
    if (received == 0 || received == net::Broken) return;
    if (received > 0) {
      drained += static_cast<std::size_t>(received);
      continue;
    }
    milliseconds slice{};
    if (mayWait(until, slice) != Wait::Go) return;
    if (net::waitReadable(socket, slice) == net::Ready::Failed) return;
  }
}

}  // namespace zandrel::site
