#include "runtime/ssip_client_speechd.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long a daemon may take to answer before it counts as unreachable.
constexpr std::chrono::milliseconds kAnswerTimeout = kSsipAnswerTimeout;
// Listing espeak-ng's thirteen thousand voices takes the daemon up to 2-3 s;
// it must not pause for longer than kSsipAnswerTimeout in between.
constexpr std::chrono::milliseconds kListTimeout{30000};
// No answer line of the protocol is longer; a voice name is a few dozen bytes.
constexpr std::size_t kMaxLineBytes = 64 << 10;
// A session's commands answer with a line or two of data.
constexpr std::size_t kMaxSessionDataLines = 64;
// Answers nobody asked for, kept unread: a daemon out of step.
constexpr std::size_t kMaxUnreadReplies = 8;

// A non-blocking stream socket, closed with its owner.
class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { close(); }
  bool open(int family, int type, int protocol) {
    close();
    fd_ = ::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
    return fd_ >= 0;
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  void close() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd_ = -1;
};

bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// Runs one send or receive on the non-blocking socket until it moves some
// bytes, waiting for `events` while it would block; -1 when it fails, the peer
// has closed, or the deadline passes.
template <typename Io>
ssize_t transfer(int fd, short events, Clock::time_point deadline, Io io) {
  for (;;) {
    const ssize_t n = io();
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, events, deadline)) {
      continue;
    }
    return -1;
  }
}

Reach finishConnect(Socket& fd, const sockaddr* address, socklen_t length,
                    Clock::time_point deadline) {
  if (::connect(fd.get(), address, length) == 0) return Reach::Answered;
  if (errno != EINPROGRESS && errno != EAGAIN && errno != EINTR) return Reach::Absent;
  if (!waitFor(fd.get(), POLLOUT, deadline)) return Reach::Silent;
  int error = 0;
  socklen_t size = sizeof(error);
  if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
    return Reach::Absent;
  }
  return Reach::Answered;
}

// Answered when `out` holds a connection to the daemon.
Reach connectTo(const DaemonAddress& address, Clock::time_point deadline, Socket& out) {
  if (address.unixSocket) {
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    if (address.path.size() >= sizeof(sun.sun_path)) return Reach::Absent;
    std::memcpy(sun.sun_path, address.path.data(), address.path.size());
    if (!out.open(AF_UNIX, SOCK_STREAM, 0)) return Reach::Absent;
    return finishConnect(out, reinterpret_cast<const sockaddr*>(&sun), sizeof(sun), deadline);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0) return Reach::Absent;
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, ::freeaddrinfo);
  Reach result = Reach::Absent;
  for (addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
    if (!out.open(a->ai_family, a->ai_socktype, a->ai_protocol)) continue;
    result = finishConnect(out, a->ai_addr, a->ai_addrlen, deadline);
    if (result == Reach::Answered) break;
  }
  return result;
}

// Bytes received, cut into CRLF-terminated lines. Taking a line costs its own
// length only, however much is buffered behind it.
class LineBuffer {
 public:
  void append(const char* bytes, std::size_t size) {
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
      buffer_.erase(0, start_);
      scanned_ -= start_;
      start_ = 0;
    }
    buffer_.append(bytes, size);
  }
  std::optional<std::string> next() {
    const std::size_t end = buffer_.find("\r\n", scanned_);
    if (end == std::string::npos) {
      scanned_ = std::max(start_, buffer_.empty() ? 0 : buffer_.size() - 1);
      return std::nullopt;
    }
    std::string line = buffer_.substr(start_, end - start_);
    start_ = scanned_ = end + 2;
    return line;
  }
  // An unfinished line longer than any the protocol has.
  bool overlong() const { return buffer_.size() - start_ > kMaxLineBytes; }

 private:
  std::string buffer_;
  std::size_t start_ = 0;    // of the first line not yet taken
  std::size_t scanned_ = 0;  // no line end before this
};

struct AnswerLimits {
  std::size_t lines = kMaxSessionDataLines;
  std::size_t bytes = kMaxSessionDataLines * kMaxLineBytes;
};

// Sends one command on a connection of its own; Answered fills `data` with
// the data lines of a successful (2xx) reply. Silent when the answer takes
// longer than `timeout`, pauses for longer than kSsipAnswerTimeout, or
// exceeds `limits`.
Reach ask(const DaemonAddress& address, std::string_view command, std::chrono::milliseconds timeout,
          std::vector<std::string>& data, AnswerLimits limits = {}) {
  const Clock::time_point deadline = Clock::now() + timeout;
  Socket fd;
  const Reach reach = connectTo(address, deadline, fd);
  if (reach != Reach::Answered) return reach;
  const std::string line = std::string(command) + "\r\n";
  for (std::size_t sent = 0; sent < line.size();) {
    const ssize_t n = transfer(fd.get(), POLLOUT, deadline, [&] {
      return ::send(fd.get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    });
    if (n < 0) return Reach::Silent;
    sent += static_cast<std::size_t>(n);
  }
  LineBuffer lines;
  std::size_t received = 0;
  for (;;) {
    const std::optional<std::string> line = lines.next();
    if (!line) {
      if (lines.overlong()) return Reach::Silent;
      char chunk[65536];
      const Clock::time_point pause = std::min(deadline, Clock::now() + kSsipAnswerTimeout);
      const ssize_t n = transfer(fd.get(), POLLIN, pause,
                                 [&] { return ::recv(fd.get(), chunk, sizeof(chunk), 0); });
      if (n < 0) return Reach::Silent;
      received += static_cast<std::size_t>(n);
      if (received > limits.bytes) return Reach::Silent;
      lines.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    const std::string& reply = *line;
    if (reply.size() < 4) return Reach::Silent;
    // An event (7xx) is never the answer. The daemon writes a closed
    // connection's late events to whichever connection now has its file
    // descriptor — often this short one, made right after the previous
    // voice was closed. Read as the reply, such an event failed a press.
    if (reply[0] == '7') continue;
    if (reply[3] == '-') {
      if (data.size() >= limits.lines) return Reach::Silent;
      data.push_back(reply.substr(4));
      continue;
    }
    return reply[0] == '2' ? Reach::Answered : Reach::Silent;
  }
}

std::optional<std::size_t> parseId(std::string_view text) {
  std::size_t value = 0;
  if (text.empty() || text.size() > 18) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

}  // namespace

Reach probeDaemon(const DaemonAddress& address, DaemonIdentity& identity) {
  std::vector<std::string> modules;
  const Reach reach = ask(address, "LIST OUTPUT_MODULES", kAnswerTimeout, modules);
  if (reach != Reach::Answered) return reach;
  identity = DaemonIdentity{};
  identity.modules = std::move(modules);
  if (address.unixSocket) {
    identity.address = address.path;
    struct stat st {};
    if (::stat(address.path.c_str(), &st) == 0) {
      identity.device = st.st_dev;
      identity.inode = st.st_ino;
      identity.changedSec = st.st_ctim.tv_sec;
      identity.changedNsec = st.st_ctim.tv_nsec;
    }
  } else {
    identity.address = address.host + ":" + std::to_string(address.port);
  }
  return Reach::Answered;
}

bool listDaemonVoices(
    const DaemonAddress& address,
    const std::function<void(std::string_view, std::string_view, std::string_view)>& each) {
  std::vector<std::string> lines;
  if (ask(address, "LIST SYNTHESIS_VOICES", kListTimeout, lines,
          {kMaxVoiceListLines, kMaxVoiceListBytes}) != Reach::Answered) {
    return false;
  }
  for (const std::string_view line : lines) {
    // "<name>\t<language>\t<variant>"
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == line.npos ? line.npos : line.find('\t', tab1 + 1);
    const std::string_view name = line.substr(0, tab1);
    if (name.empty()) continue;
    each(name, tab1 == line.npos ? "" : line.substr(tab1 + 1, tab2 - tab1 - 1),
         tab2 == line.npos ? "" : line.substr(tab2 + 1));
  }
  return true;
}

std::unique_ptr<SsipSession> SsipSession::open(const DaemonAddress& address,
                                               std::string_view clientName, EventHandler onEvent) {
  Socket fd;
  if (connectTo(address, Clock::now() + kSsipAnswerTimeout, fd) != Reach::Answered) return nullptr;
  auto session = std::make_unique<SsipSession>(fd.release(), std::move(onEvent));
  if (!session->command("SET SELF CLIENT_NAME " + std::string(clientName))) return nullptr;
  const std::optional<Reply> id = session->exchange("HISTORY GET CLIENT_ID");
  if (!id || id->code / 100 != 2 || id->data.empty()) return nullptr;
  const std::optional<std::size_t> client = parseId(id->data.front());
  if (!client) return nullptr;
  session->clientId_ = *client;
  return session;
}

SsipSession::SsipSession(int fd, EventHandler onEvent) : fd_(fd), onEvent_(std::move(onEvent)) {
  reader_ = std::thread([this] { readLoop(); });
}

SsipSession::~SsipSession() {
  close();
  if (reader_.joinable()) reader_.join();
  ::close(fd_);
}

bool SsipSession::command(std::string_view line) {
  const std::optional<Reply> reply = exchange(line);
  return reply && reply->code / 100 == 2;
}

std::optional<std::size_t> SsipSession::speak(std::string_view text) {
  const std::optional<Reply> ready = exchange("SPEAK");
  if (!ready || ready->code != 230) return std::nullopt;
  // Lines end in CRLF; a line that starts with a dot gets another, and a lone
  // dot ends the data.
  std::string data;
  data.reserve(text.size() + text.size() / 16 + 8);
  bool lineStart = true;
  for (const char c : text) {
    if (c == '\r') continue;
    if (lineStart && c == '.') data += '.';
    if (c == '\n') {
      data += "\r\n";
      lineStart = true;
      continue;
    }
    data += c;
    lineStart = false;
  }
  data += "\r\n.\r\n";
  if (!send(data)) return std::nullopt;
  const std::optional<Reply> queued = awaitReply();
  if (!queued || queued->code / 100 != 2 || queued->data.empty()) return std::nullopt;
  return parseId(queued->data.front());
}

void SsipSession::close() {
  if (broken_) return;
  // Stops the sound at once and drops the queue; shutting the connection
  // alone would let the daemon finish the message.
  exchange("CANCEL SELF");
  broken_ = true;
  ::shutdown(fd_, SHUT_RDWR);
}

bool SsipSession::send(std::string_view bytes) {
  if (broken_) return false;
  const Clock::time_point deadline = Clock::now() + kSsipAnswerTimeout;
  for (std::size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = transfer(fd_, POLLOUT, deadline, [&] {
      return ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    });
    if (n < 0) {
      // Part of a command or of a message's data may be out: the daemon
      // finds the connection ended before it is complete, and drops it.
      if (Clock::now() >= deadline) timedOut_ = true;
      broken_ = true;
      ::shutdown(fd_, SHUT_RDWR);
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<SsipSession::Reply> SsipSession::awaitReply() {
  std::unique_lock lock(mutex_);
  const bool answered = replied_.wait_for(lock, kSsipAnswerTimeout,
                                          [this] { return !replies_.empty() || readerDone_; });
  if (answered && !replies_.empty()) {
    Reply reply = std::move(replies_.front());
    replies_.pop_front();
    return reply;
  }
  lock.unlock();
  giveUp(/*timedOut=*/!answered);
  return std::nullopt;
}

std::optional<SsipSession::Reply> SsipSession::exchange(std::string_view line) {
  if (!send(std::string(line) + "\r\n")) return std::nullopt;
  return awaitReply();
}

// The daemon (or its output module, which it waits for) did not answer in
// time. Whatever this client asked for must never be heard later, when the
// daemon wakes up: it reads a cancel of everything this client queued, then
// the end of the connection, which makes it forget the client.
void SsipSession::giveUp(bool timedOut) {
  if (timedOut) timedOut_ = true;
  if (broken_.exchange(true)) return;
  constexpr std::string_view kCancel = "CANCEL SELF\r\n";
  // Best effort and without waiting: at a command boundary, so it is read as
  // the command it is.
  [[maybe_unused]] const ssize_t n = ::send(fd_, kCancel.data(), kCancel.size(), MSG_NOSIGNAL);
  ::shutdown(fd_, SHUT_RDWR);
}

void SsipSession::readLoop() {
  LineBuffer lines;
  Reply reply;
  std::vector<std::string> event;
  const auto finish = [this] {
    std::lock_guard lock(mutex_);
    readerDone_ = true;
    replied_.notify_all();
  };
  for (;;) {
    std::optional<std::string> line = lines.next();
    if (!line) {
      if (lines.overlong()) break;
      char chunk[4096];
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR) break;
      const ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        break;
      }
      lines.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (line->size() < 4 || ((*line)[3] != '-' && (*line)[3] != ' ')) break;
    const int code = std::atoi(line->substr(0, 3).c_str());
    const bool more = (*line)[3] == '-';
    std::vector<std::string>& data = code / 100 == 7 ? event : reply.data;
    if (more) {
      if (data.size() >= kMaxSessionDataLines) break;
      data.push_back(line->substr(4));
      continue;
    }
    if (code / 100 == 7) {
      // "<message>", "<client>"[, "<index mark>"]. The daemon writes a
      // closed connection's late events to whichever connection now has its
      // file descriptor: only this client's own are told.
      const std::optional<std::size_t> message =
          event.size() >= 2 ? parseId(event[0]) : std::nullopt;
      const std::optional<std::size_t> client =
          event.size() >= 2 ? parseId(event[1]) : std::nullopt;
      event.clear();
      if (message && client && *client == clientId_.load() && onEvent_) onEvent_(code, *message);
      continue;
    }
    reply.code = code;
    std::lock_guard lock(mutex_);
    if (replies_.size() >= kMaxUnreadReplies) break;
    replies_.push_back(std::move(reply));
    reply = Reply{};
    replied_.notify_all();
  }
  // The daemon closed, or answers what no client would: nothing more is
  // asked of it on this connection.
  broken_ = true;
  finish();
}

}  // namespace zandrel
