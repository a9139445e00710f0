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
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long a daemon may take to answer before it counts as unreachable.
constexpr std::chrono::milliseconds kAnswerTimeout{3000};
// Listing espeak-ng's thirteen thousand voices takes the daemon 2-3 s.
constexpr std::chrono::milliseconds kListTimeout{30000};

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

// Sends one command on a connection of its own; Answered fills `data` with
// the data lines of a successful (2xx) reply.
Reach ask(const DaemonAddress& address, std::string_view command, std::chrono::milliseconds timeout,
          std::vector<std::string>& data) {
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
  std::string buffer;
  std::size_t scanned = 0;
  for (;;) {
    const std::size_t end = buffer.find("\r\n", scanned);
    if (end == std::string::npos) {
      scanned = buffer.empty() ? 0 : buffer.size() - 1;
      char chunk[65536];
      const ssize_t n = transfer(fd.get(), POLLIN, deadline,
                                 [&] { return ::recv(fd.get(), chunk, sizeof(chunk), 0); });
      if (n < 0) return Reach::Silent;
      buffer.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    const std::string reply = buffer.substr(0, end);
    buffer.erase(0, end + 2);
    scanned = 0;
    if (reply.size() < 4) return Reach::Silent;
    // An event (7xx) is never the answer. The daemon writes a closed
    // connection's late events to whichever connection now has its file
    // descriptor — often this short one, made right after the previous
    // voice was closed. Read as the reply, such an event failed a press.
    if (reply[0] == '7') continue;
    if (reply[3] == '-') {
      data.push_back(reply.substr(4));
      continue;
    }
    return reply[0] == '2' ? Reach::Answered : Reach::Silent;
  }
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
  if (ask(address, "LIST SYNTHESIS_VOICES", kListTimeout, lines) != Reach::Answered) return false;
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

}  // namespace zandrel
