#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "site_socket.h"

namespace zandrel::site::net {

namespace {

int native(const Socket& socket) {
  return static_cast<int>(socket.get());
}

Handle handleOf(int fd) {
  return fd < 0 ? NoHandle : static_cast<Handle>(fd);
}

std::string describe(int error) {
  switch (error) {
    case EADDRINUSE:
      return "address in use";
    case EACCES:
      return "permission denied";
    case EADDRNOTAVAIL:
      return "not an address of this machine";
    default:
      return std::strerror(error);
  }
}

Ready waitFor(const Socket& socket, short events, std::chrono::milliseconds limit) {
  pollfd wait{native(socket), events, 0};
  const int timeout = static_cast<int>(std::clamp<long long>(limit.count(), 0, INT_MAX));
  const int ready = poll(&wait, 1, timeout);
  if (ready < 0) return errno == EINTR ? Ready::No : Ready::Failed;
  if (ready == 0) return Ready::No;
  // An error or hang-up is reported as ready: the next read or send says which.
  return (wait.revents & POLLNVAL) != 0 ? Ready::Failed : Ready::Yes;
}

}  // namespace

void Socket::reset() {
  if (handle_ != NoHandle) close(static_cast<int>(handle_));
  handle_ = NoHandle;
}

Library::Library() : ready_(true) {}
Library::~Library() = default;

namespace {

Socket listenAt(const addrinfo& info, int& error) {
  Socket candidate(handleOf(
      socket(info.ai_family, info.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, info.ai_protocol)));
  if (!candidate) {
    error = errno;
    return {};
  }
  // A quick restart may bind again while old connections linger. Not
  // SO_REUSEPORT: with it a second server could share the port and take
  // every other request.
  const int yes = 1;
  setsockopt(native(candidate), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(native(candidate), info.ai_addr, info.ai_addrlen) != 0 ||
      listen(native(candidate), SOMAXCONN) != 0) {
    error = errno;
    return {};
  }
  return candidate;
}

constexpr int kNotAnAddressHere = EADDRNOTAVAIL;

}  // namespace

#include "site_socket_bsd.inc"

Accepted acceptClient(const Socket& listener, Socket& client) {
  const int accepted = accept4(native(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (accepted >= 0) {
    client = Socket(handleOf(accepted));
    return Accepted::Client;
  }
  switch (errno) {
    case EAGAIN:
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
      return Accepted::None;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return Accepted::Busy;
    default:
      return Accepted::Failed;
  }
}

Ready waitReadable(const Socket& socket, std::chrono::milliseconds limit) {
  return waitFor(socket, POLLIN, limit);
}

Ready waitWritable(const Socket& socket, std::chrono::milliseconds limit) {
  return waitFor(socket, POLLOUT, limit);
}

long receiveSome(const Socket& socket, char* buffer, std::size_t size) {
  const ssize_t received = recv(native(socket), buffer, size, 0);
  if (received >= 0) return static_cast<long>(received);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? WouldBlock : Broken;
}

long sendSome(const Socket& socket, const char* bytes, std::size_t size) {
  // MSG_NOSIGNAL: a client gone mid-answer must not raise SIGPIPE.
  const ssize_t sent = send(native(socket), bytes, size, MSG_NOSIGNAL);
  if (sent >= 0) return static_cast<long>(sent);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? WouldBlock : Broken;
}

void shutdownSending(const Socket& socket) {
  shutdown(native(socket), SHUT_WR);
}

void shutdownBoth(const Socket& socket) {
  shutdown(native(socket), SHUT_RDWR);
}

}  // namespace zandrel::site::net
