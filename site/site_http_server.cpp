#include "site_http_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <exception>
#include <list>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "site_process.h"
#include "site_text.h"

namespace zandrel::site {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using ErrorCode = boost::system::error_code;

// Reading what a client still sends after its answer, before closing: closing
// with unread input resets the connection, and the client may then lose the
// answer (a refused oversized request is typically still being sent).
constexpr std::chrono::milliseconds DrainTime{2000};
constexpr std::size_t DrainMaxBytes = 1024 * 1024;
// Out of descriptors: how long to wait before accepting again when no
// answered connection could be closed to make room.
constexpr std::chrono::milliseconds BusyPause{100};

#ifdef _WIN32
// Without it another program may bind the same port (with SO_REUSEADDR) and
// take requests meant for the site. Asio has no name for it.
struct ExclusiveAddressUse {
  int value = 1;
  template <class Protocol>
  int level(const Protocol&) const {
    return SOL_SOCKET;
  }
  template <class Protocol>
  int name(const Protocol&) const {
    return SO_EXCLUSIVEADDRUSE;
  }
  template <class Protocol>
  const int* data(const Protocol&) const {
    return &value;
  }
  template <class Protocol>
  std::size_t size(const Protocol&) const {
    return sizeof value;
  }
};
#endif

BindFailure bindFailureOf(const ErrorCode& error) {
  if (error == asio::error::address_in_use) return BindFailure::AddressInUse;
  if (error == asio::error::access_denied) return BindFailure::PermissionDenied;
  if (error == boost::system::errc::address_not_available) return BindFailure::NotHere;
  return BindFailure::Other;
}

bool isOutOfResources(const ErrorCode& error) {
  return error == asio::error::no_descriptors ||
         error == boost::system::errc::too_many_files_open_in_system ||
         error == asio::error::no_buffer_space || error == asio::error::no_memory;
}

// The methods of HTTP/1.1 (and HTTP/2's preface); any other is answered 400.
bool isKnownMethod(std::string_view method) {
  static constexpr std::array<std::string_view, 10> Known = {
      "GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH", "PRI"};
  return std::find(Known.begin(), Known.end(), method) != Known.end();
}

// The status for a head the parser gave up on at its size limit, from the
// bytes it was given: the request line (when still among them), one field
// line or all of them too long.
int oversizedHeadStatus(std::string_view head, bool startLineRead,
                        const HttpServer::Bounds& bounds) {
  std::size_t at = 0;
  if (!startLineRead) {
    const std::size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string_view::npos || lineEnd > bounds.maxRequestLine) return 414;
    at = lineEnd + 2;
  }
  while (at < head.size()) {
    const std::size_t lineEnd = std::min(head.find("\r\n", at), head.size());
    if (lineEnd - at > bounds.maxHeaderLine) return 400;
    at = lineEnd + 2;
  }
  return 431;
}

std::string serializeResponse(const SiteResponse& response, bool headRequest) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                    std::string(http::obsolete_reason(
                        http::int_to_status(static_cast<unsigned>(response.status)))) +
                    "\r\n";
  for (const auto& [name, value] : response.headers) {
    // A line break in a value would start a header of its own.
    if (name.find_first_of("\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos)
      continue;
    out += name + ": " + value + "\r\n";
  }
  if (!response.contentType.empty()) out += "Content-Type: " + response.contentType + "\r\n";
  out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  if (!headRequest) out += response.body;
  return out;
}

}  // namespace

std::string formatLogLine(std::time_t when, std::string_view address, std::string_view method,
                          std::string_view path, int status) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char stamp[32];
  if (std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local) == 0) stamp[0] = '\0';
  return std::string(stamp) + " " + std::string(address) + " " + logField(method) + " " +
         logField(path) + " " + std::to_string(status);
}

std::string formatAddress(std::string_view host, int port) {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" +
  // std::string&& at -O3.
  std::string address;
  if (host.find(':') != std::string_view::npos) {
    address.append("[").append(host).append("]");
  } else {
    address.append(host);
  }
  return address.append(":").append(std::to_string(port));
}

std::string_view describe(BindFailure failure) {
  switch (failure) {
    case BindFailure::None:
      return "bound";
    case BindFailure::AddressInUse:
      return "address in use";
    case BindFailure::PermissionDenied:
      return "permission denied";
    case BindFailure::NotHere:
      return "not an address of this machine";
    case BindFailure::UnknownHost:
      return "unknown host";
    case BindFailure::AlreadyBound:
      return "already bound";
    case BindFailure::Other:
      break;
  }
  return "cannot bind";
}

// Everything below runs on the server's one thread, but for the few members
// marked otherwise.
class HttpServer::Impl {
 public:
  class Connection;
  using Connections = std::list<Connection*>;

  Impl(Handler handle, LogSink log, Bounds bounds)
      : handle_(std::move(handle)), log_(std::move(log)), bounds_(bounds) {}

  BindFailure bind(const std::string& host, int port);
  bool start();
  void requestStop();
  void stop();

  void acceptNext();
  void admit(tcp::socket socket);
  bool dropOldestAnswered();
  void beginStop();

  const Handler handle_;
  const LogSink log_;
  const Bounds bounds_;
  std::string address_;
  int port_ = 0;
  std::atomic<bool> stopRequested_{false};   // any thread
  std::atomic<bool> loopEnded_{false};       // any thread
  std::atomic<bool> listenerBroken_{false};  // any thread
  std::atomic<std::size_t> open_{0};         // any thread
  bool stopping_ = false;
  // In the order accepted, oldest first. Declared before the io_context: the
  // connections its handlers still hold leave these lists as it ends.
  Connections reading_;
  Connections answered_;
  asio::io_context io_{1};
  tcp::acceptor acceptor_{io_};
  asio::steady_timer busyTimer_{io_};
  asio::steady_timer stopTimer_{io_};
  std::thread thread_;
};

// One client: its request read with Beast's parser, its answer written, then
// what it still sends read and dropped until it closes (or DrainTime).
class HttpServer::Impl::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Impl& server, tcp::socket socket)
      : server_(server), socket_(std::move(socket)), timer_(server.io_) {
    ++server_.open_;
  }
  ~Connection() {
    unlist();
    --server_.open_;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void start() {
    list(server_.reading_);
    parser_.emplace();
    // Beast counts the request line in the head; the fields alone are
    // checked once the head is read.
    parser_->header_limit(static_cast<std::uint32_t>(server_.bounds_.maxHeaderBytes +
                                                     server_.bounds_.maxRequestLine));
    parser_->body_limit(server_.bounds_.maxBody);
    expireAt(began_ + server_.bounds_.headTime);
    readHead();
  }

  // Ends the connection at once: to make room, or at the end of a stop.
  void close() {
    unlist();
    ErrorCode ignored;
    timer_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

 private:
  void list(Connections& into) {
    unlist();
    into.push_back(this);
    list_ = &into;
    at_ = std::prev(into.end());
  }
  void unlist() {
    if (list_) list_->erase(at_);
    list_ = nullptr;
  }

  // Cancels what is in progress at `until`; `expired_` then tells the handler why.
  void expireAt(Clock::time_point until) {
    expired_ = false;
    const unsigned phase = ++phase_;
    timer_.expires_at(until);
    timer_.async_wait([self = shared_from_this(), phase](const ErrorCode& error) {
      if (error || phase != self->phase_) return;
      self->expired_ = true;
      ErrorCode ignored;
      self->socket_.cancel(ignored);
    });
  }

  // Whether a read that ended with `error` leaves the request unanswered: the
  // server is stopping, or the client sent nothing at all.
  bool cutOff(const ErrorCode& error) const {
    if (server_.stopping_ && error == asio::error::operation_aborted && !expired_) return true;
    return buffer_.size() == 0 && !startLineRead_;
  }

  // Beast's parser takes the head once it is whole (and refuses it past its
  // size); the bytes are read here so that the head can be seen as sent.
  void readHead() {
    socket_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](const ErrorCode& error, std::size_t got) {
                              self->buffer_.commit(got);
                              self->onHeadBytes(error);
                            });
  }

  void onHeadBytes(ErrorCode error) {
    if (!socket_.is_open()) return;
    if (error) {
      if (cutOff(error)) return close();
      if (expired_) return answerStatus(408);
      // Gone before a whole request line: nothing to answer or log (bytes of
      // another protocol, typically).
      if (!startLineRead_) return close();
      return answerStatus(400);
    }
    const auto data = buffer_.cdata();
    const std::string_view bytes(static_cast<const char*>(data.data()), data.size());
    const std::size_t used = parser_->put(data, error);
    // Beast unfolds a field continued on the next line; two parsers may read
    // such a head differently, which is how request smuggling starts. (It
    // takes the fields all at once, so no fold straddles two parts.)
    const std::string_view taken = bytes.substr(0, used);
    if (taken.find("\r\n ") != std::string_view::npos ||
        taken.find("\r\n\t") != std::string_view::npos)
      return answerStatus(400);
    buffer_.consume(used);
    if (used > 0 && !startLineRead_) {
      // Logged with the answer, whatever the fields turn out to be.
      startLineRead_ = true;
      request_.method = std::string(parser_->get().method_string());
      const std::string_view target = parser_->get().target();
      request_.path = percentDecode(target.substr(0, target.find('?')), false);
    }
    if (error == http::error::need_more) return readHead();
    if (error == http::error::header_limit) {
      const auto rest = buffer_.cdata();
      return answerStatus(
          oversizedHeadStatus(std::string_view(static_cast<const char*>(rest.data()), rest.size()),
                              startLineRead_, server_.bounds_));
    }
    // Not even the start of a request line (TLS, typically): not HTTP, so
    // neither answered nor logged.
    if (error && !startLineRead_ && bytes.find('\n') == std::string_view::npos) return close();
    if (error) return answerStatus(error == http::error::body_limit ? 413 : 400);
    onHead();
  }

  void onHead() {
    const auto& head = parser_->get();
    const std::string_view target = head.target();
    if (target.size() > server_.bounds_.maxRequestLine) return answerStatus(414);
    if (!isKnownMethod(request_.method) || (head.version() != 10 && head.version() != 11))
      return answerStatus(400);
    const std::size_t query = target.find('?');
    if (query != std::string_view::npos) addFormFields(target.substr(query + 1), request_.params);
    std::size_t bytes = 0;
    for (const auto& field : head) {
      const std::string_view name = field.name_string();
      const std::string_view value = field.value();
      if (name.size() + 2 + value.size() > server_.bounds_.maxHeaderLine) return answerStatus(400);
      bytes += name.size() + 4 + value.size();
      request_.headers.emplace_back(name, value);
    }
    if (request_.headers.size() > server_.bounds_.maxHeaderCount ||
        bytes > server_.bounds_.maxHeaderBytes)
      return answerStatus(431);
    if (const int status = framingStatus()) return answerStatus(status);
    if (const int status = missingLengthStatus(request_)) return answerStatus(status);
    if (parser_->is_done()) return dispatch();

    expireAt(began_ + server_.bounds_.requestTime);
    bool awaitsContinue = false;
    for (const std::string& expect : request_.headerValues("Expect"))
      awaitsContinue = awaitsContinue || equalsIgnoringCase(expect, "100-continue");
    if (!awaitsContinue) return readBody();
    static constexpr std::string_view Continue = "HTTP/1.1 100 Continue\r\n\r\n";
    // A client that is gone shows up as a body that never comes.
    asio::async_write(socket_, asio::buffer(Continue.data(), Continue.size()),
                      [self = shared_from_this()](const ErrorCode&, std::size_t) {
                        if (self->socket_.is_open()) self->readBody();
                      });
  }

  // What Beast lets through but the site refuses: a transfer coding other
  // than chunked (501); Content-Length and Transfer-Encoding together are
  // refused by Beast itself, as request smuggling starts that way.
  int framingStatus() const {
    const std::vector<std::string> encodings = request_.headerValues("Transfer-Encoding");
    if (!encodings.empty() &&
        (encodings.size() != 1 || !equalsIgnoringCase(encodings[0], "chunked")))
      return 501;
    return 0;
  }

  void readBody() {
    http::async_read(
        socket_, buffer_, *parser_,
        [self = shared_from_this()](const ErrorCode& error, std::size_t) { self->onBody(error); });
  }

  void onBody(const ErrorCode& error) {
    if (!socket_.is_open()) return;
    if (error) {
      if (server_.stopping_ && error == asio::error::operation_aborted && !expired_) return close();
      if (expired_) return answerStatus(408);
      return answerStatus(error == http::error::body_limit ? 413 : 400);
    }
    const std::string& body = parser_->get().body();
    const std::vector<std::string> types = request_.headerValues("Content-Type");
    if (!types.empty() && types[0].starts_with("application/x-www-form-urlencoded")) {
      if (body.size() > server_.bounds_.maxFormBody) return answerStatus(413);
      addFormFields(body, request_.params);
    }
    dispatch();
  }

  void dispatch() {
    SiteResponse response;
    try {
      server_.handle_(request_, response);
    } catch (const std::exception&) {
      response = SiteResponse{};
      response.status = 500;
    }
    answer(std::move(response));
  }

  void answerStatus(int status) {
    SiteResponse response;
    response.status = status;
    answer(std::move(response));
  }

  void answer(SiteResponse response) {
    // From here on the connection never keeps a newcomer out.
    list(server_.answered_);
    if (server_.answered_.size() > server_.bounds_.maxAnswered) server_.dropOldestAnswered();
    addErrorPage(response);
    // Logged before the answer goes out, so whoever has the answer finds the line.
    if (server_.log_)
      server_.log_(formatLogLine(std::time(nullptr), server_.address_, request_.method,
                                 request_.path, response.status));
    out_ = serializeResponse(response, request_.method == "HEAD");
    parser_.reset();
    expireAt(Clock::now() + server_.bounds_.sendTime);
    asio::async_write(
        socket_, asio::buffer(out_),
        [self = shared_from_this()](const ErrorCode& error, std::size_t) { self->onSent(error); });
  }

  void onSent(const ErrorCode& error) {
    if (!socket_.is_open()) return;
    if (error || server_.stopping_) return close();
    out_ = std::string();
    ErrorCode ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    expireAt(Clock::now() + DrainTime);
    drain();
  }

  void drain() {
    socket_.async_read_some(asio::buffer(scratch_), [self = shared_from_this()](
                                                        const ErrorCode& error, std::size_t got) {
      if (!self->socket_.is_open()) return;
      self->drained_ += got;
      if (error || self->server_.stopping_ || self->drained_ >= DrainMaxBytes) return self->close();
      self->drain();
    });
  }

  Impl& server_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  const Clock::time_point began_ = Clock::now();
  unsigned phase_ = 0;
  bool expired_ = false;
  bool startLineRead_ = false;  // and taken out of buffer_
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  SiteRequest request_;
  std::string out_;
  std::array<char, 4096> scratch_{};
  std::size_t drained_ = 0;
  Connections* list_ = nullptr;
  Connections::iterator at_;
};

BindFailure HttpServer::Impl::bind(const std::string& host, int port) {
  if (acceptor_.is_open() || stopRequested_) return BindFailure::AlreadyBound;
  ErrorCode error;
  tcp::resolver resolver(io_);
  const auto found = resolver.resolve(
      host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, error);
  if (error || found.empty()) return BindFailure::UnknownHost;
  BindFailure failure = BindFailure::NotHere;
  for (const auto& entry : found) {
    const tcp::endpoint endpoint = entry.endpoint();
    acceptor_.open(endpoint.protocol(), error);
    if (error) {
      failure = bindFailureOf(error);
      continue;
    }
    keepSocketFromChildProcesses(static_cast<std::uintptr_t>(acceptor_.native_handle()));
#ifdef _WIN32
    acceptor_.set_option(ExclusiveAddressUse{}, error);
#else
    // A quick restart may bind again while old connections linger. Not
    // SO_REUSEPORT: with it a second server could share the port and take
    // every other request.
    acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
#endif
    acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (!error) {
      port_ = acceptor_.local_endpoint(error).port();
      address_ = formatAddress(host, port_);
      return BindFailure::None;
    }
    failure = bindFailureOf(error);
    ErrorCode ignored;
    acceptor_.close(ignored);
  }
  return failure;
}

bool HttpServer::Impl::start() {
  if (!acceptor_.is_open() || thread_.joinable() || stopRequested_) return false;
  // Each connection holds a descriptor; a few hundred clients must not run
  // the process out of them.
  raiseOpenFileLimit();
  acceptNext();
  try {
    thread_ = std::thread([this] {
      while (true) {
        try {
          io_.run();
          break;
        } catch (const std::exception&) {
          // Out of memory answering one client: that client is dropped (its
          // handler is gone), the server goes on.
        }
      }
      loopEnded_ = true;
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void HttpServer::Impl::acceptNext() {
  acceptor_.async_accept([this](const ErrorCode& error, tcp::socket socket) {
    if (stopping_ || error == asio::error::operation_aborted) return;
    if (!error) {
      admit(std::move(socket));
    } else if (isOutOfResources(error)) {
      // Answered connections go first; without any, the client waits in the backlog.
      if (!dropOldestAnswered()) {
        busyTimer_.expires_after(BusyPause);
        busyTimer_.async_wait([this](const ErrorCode& waited) {
          if (!waited && !stopping_) acceptNext();
        });
        return;
      }
    } else if (error != asio::error::connection_aborted &&
               error != boost::system::errc::protocol_error &&
               error != boost::system::errc::operation_not_permitted &&
               error != asio::error::interrupted && error != asio::error::would_block &&
               error != asio::error::connection_reset) {
      // The listener is broken: serving ends (failed() tells).
      listenerBroken_ = true;
      ErrorCode ignored;
      acceptor_.close(ignored);
      return;
    }
    acceptNext();
  });
}

void HttpServer::Impl::admit(tcp::socket socket) {
  keepSocketFromChildProcesses(static_cast<std::uintptr_t>(socket.native_handle()));
  if (reading_.size() >= bounds_.maxConnections) reading_.front()->close();
  const auto connection = std::make_shared<Connection>(*this, std::move(socket));
  connection->start();
}

bool HttpServer::Impl::dropOldestAnswered() {
  if (answered_.empty()) return false;
  answered_.front()->close();
  return true;
}

void HttpServer::Impl::requestStop() {
  if (stopRequested_.exchange(true)) return;
  asio::post(io_, [this] { beginStop(); });
}

void HttpServer::Impl::beginStop() {
  stopping_ = true;
  ErrorCode ignored;
  acceptor_.close(ignored);
  busyTimer_.cancel();
  // Answers are out; what their clients still send is no longer waited for.
  while (!answered_.empty()) answered_.front()->close();
  if (reading_.empty()) return;
  stopTimer_.expires_after(bounds_.stopGrace);
  stopTimer_.async_wait([this](const ErrorCode&) {
    while (!reading_.empty()) reading_.front()->close();
    while (!answered_.empty()) answered_.front()->close();
  });
}

void HttpServer::Impl::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
  ErrorCode ignored;
  acceptor_.close(ignored);
}

HttpServer::HttpServer(Handler handle, LogSink log, Bounds bounds)
    : impl_(std::make_unique<Impl>(std::move(handle), std::move(log), bounds)) {}

HttpServer::HttpServer(Handler handle, LogSink log)
    : HttpServer(std::move(handle), std::move(log), Bounds{}) {}

HttpServer::~HttpServer() {
  stop();
}

bool HttpServer::bind(const std::string& host, int port, BindFailure& failure) {
  failure = impl_->bind(host, port);
  return failure == BindFailure::None;
}

bool HttpServer::bind(const std::string& host, int port, std::string& reason) {
  BindFailure failure = BindFailure::None;
  if (bind(host, port, failure)) return true;
  reason = describe(failure);
  return false;
}

const std::string& HttpServer::address() const {
  return impl_->address_;
}
int HttpServer::port() const {
  return impl_->port_;
}
bool HttpServer::start() {
  return impl_->start();
}
void HttpServer::requestStop() {
  impl_->requestStop();
}
void HttpServer::stop() {
  impl_->stop();
}
bool HttpServer::failed() const {
  return (impl_->listenerBroken_ || impl_->loopEnded_) && !impl_->stopRequested_;
}
std::size_t HttpServer::openConnections() const {
  return impl_->open_;
}

}  // namespace zandrel::site
