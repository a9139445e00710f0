#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "site_socket.h"

namespace zandrel::site::net {

namespace {

SOCKET native(const Socket& socket) {
  return static_cast<SOCKET>(socket.get());
}

Handle handleOf(SOCKET socket) {
  return socket == INVALID_SOCKET ? NoHandle : static_cast<Handle>(socket);
}

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
  return ioctlsocket(native(socket), FIONBIO, &yes) == 0;
}

Ready waitFor(const Socket& socket, bool forWriting, std::chrono::milliseconds limit) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(native(socket), &set);
  // A failed connect or a reset shows up in the error set; the next read or
  // send then says what happened.
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(native(socket), &errors);
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

namespace {

Socket listenAt(const addrinfo& info, int& error) {
  Socket candidate(handleOf(socket(info.ai_family, info.ai_socktype, info.ai_protocol)));
  if (!candidate) {
    error = WSAGetLastError();
    return {};
  }
  // On Windows another program may otherwise bind the same port (with
  // SO_REUSEADDR) and take requests meant for the site.
  const BOOL yes = TRUE;
  setsockopt(native(candidate), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
             reinterpret_cast<const char*>(&yes), sizeof yes);
  if (::bind(native(candidate), info.ai_addr, static_cast<int>(info.ai_addrlen)) != 0 ||
      listen(native(candidate), SOMAXCONN) != 0 || !makeNonBlocking(candidate)) {
    error = WSAGetLastError();
    return {};
  }
  return candidate;
}

constexpr int kNotAnAddressHere = WSAEADDRNOTAVAIL;

}  // namespace

#include "site_socket_bsd.inc"

Accepted acceptClient(const Socket& listener, Socket& client) {
  Socket accepted(handleOf(accept(native(listener), nullptr, nullptr)));
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
      recv(native(socket), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (received != SOCKET_ERROR) return received;
  return wouldBlock(WSAGetLastError()) ? WouldBlock : Broken;
}

long sendSome(const Socket& socket, const char* bytes, std::size_t size) {
  const int sent =
      send(native(socket), bytes, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (sent != SOCKET_ERROR) return sent;
  return wouldBlock(WSAGetLastError()) ? WouldBlock : Broken;
}

void shutdownSending(const Socket& socket) {
  shutdown(native(socket), SD_SEND);
}

void shutdownBoth(const Socket& socket) {
  shutdown(native(socket), SD_BOTH);
}

}  // namespace zandrel::site::net
