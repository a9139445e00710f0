#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "site_socket.h"

namespace zandrel::site::net {

namespace {

SOCKET raw(const Socket& socket) {
  return static_cast<SOCKET>(socket.get());
}

Handle handleOf(SOCKET socket) {
  return socket == INVALID_SOCKET ? NoHandle : static_cast<Handle>(socket);
}

struct AddressListDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::string describe(int error) {
  switch (error) {
    case WSAEADDRINUSE:
      return "address in use";
    case WSAEACCES:
      return "permission denied";
    case WSAEADDRNOTAVAIL:
      return "not an address of this machine";
    default:
      return "socket error " + std::to_string(error);
  }
}

bool makeNonBlocking(const Socket& socket) {
  u_long yes = 1;
  return ioctlsocket(raw(socket), FIONBIO, &yes) == 0;
}

Ready waitFor(const Socket& socket, bool forWriting, std::chrono::milliseconds limit) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(raw(socket), &set);
  // A failed connect or a reset shows up in the error set; the next read or
  // send then says what happened.
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(raw(socket), &errors);
  const long long micros = std::max<long long>(0, limit.count()) * 1000;
  timeval wait{static_cast<long>(micros / 1000000), static_cast<long>(micros % 1000000)};
  const int ready =
      select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, &errors, &wait);
  if (ready == SOCKET_ERROR) return Ready::Failed;
  return ready > 0 ? Ready::Yes : Ready::No;
}

bool wouldBlock(int error) {
  return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

}  // namespace

void Socket::reset() {
  if (handle_ != NoHandle) closesocket(static_cast<SOCKET>(handle_));
  handle_ = NoHandle;
}

Library::Library() {
  WSADATA data;
  ready_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Library::~Library() {
  if (ready_) WSACleanup();
}

Socket listenOn(const std::string& host, int port, std::string& reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    reason = "unknown host";
    return {};
  }
  const std::unique_ptr<addrinfo, AddressListDeleter> list(found);
  int error = WSAEADDRNOTAVAIL;
  for (const addrinfo* info = found; info != nullptr; info = info->ai_next) {
    Socket candidate(handleOf(socket(info->ai_family, info->ai_socktype, info->ai_protocol)));
    if (!candidate) {
      error = WSAGetLastError();
      continue;
    }
    // On Windows another program may otherwise bind the same port (with
    // SO_REUSEADDR) and take requests meant for the site.
    const BOOL yes = TRUE;
    setsockopt(raw(candidate), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
    if (::bind(raw(candidate), info->ai_addr, static_cast<int>(info->ai_addrlen)) != 0 ||
        listen(raw(candidate), SOMAXCONN) != 0 || !makeNonBlocking(candidate)) {
      error = WSAGetLastError();
      continue;
    }
    return candidate;
  }
  reason = describe(error);
  return {};
}

int localPort(const Socket& socket) {
  sockaddr_storage address{};
  int length = sizeof address;
  if (getsockname(raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

Accepted acceptClient(const Socket& listener, Socket& client) {
  Socket accepted(handleOf(accept(raw(listener), nullptr, nullptr)));
  if (accepted) {
    if (!makeNonBlocking(accepted)) return Accepted::None;  // closes it
    client = std::move(accepted);
    return Accepted::Client;
  }
  const int error = WSAGetLastError();
  if (wouldBlock(error) || error == WSAECONNRESET) return Accepted::None;
  if (error == WSAEMFILE || error == WSAENOBUFS) return Accepted::Busy;
  return Accepted::Failed;
}

Ready waitReadable(const Socket& socket, std::chrono::milliseconds limit) {
  return waitFor(socket, false, limit);
}

Ready waitWritable(const Socket& socket, std::chrono::milliseconds limit) {
  return waitFor(socket, true, limit);
}

long receiveSome(const Socket& socket, char* buffer, std::size_t size) {
  const int received =
      recv(raw(socket), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (received != SOCKET_ERROR) return received;
  return wouldBlock(WSAGetLastError()) ? WouldBlock : Broken;
}

long sendSome(const Socket& socket, const char* bytes, std::size_t size) {
  const int sent =
      send(raw(socket), bytes, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (sent != SOCKET_ERROR) return sent;
  return wouldBlock(WSAGetLastError()) ? WouldBlock : Broken;
}

void shutdownSending(const Socket& socket) {
  shutdown(raw(socket), SD_SEND);
}

void shutdownBoth(const Socket& socket) {
  shutdown(raw(socket), SD_BOTH);
}

}  // namespace zandrel::site::net
