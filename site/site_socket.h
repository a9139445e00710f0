#pragma once
// The few socket calls the exam site's server makes, behind one small
// interface: POSIX sockets on Linux (site_socket_posix.cpp), Winsock on
// Windows (site_socket_win32.cpp). Every socket is non-blocking and every
// wait has a limit, so no call holds a thread longer than its caller allows.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zandrel::site::net {

// A socket descriptor (an int on POSIX, a SOCKET on Windows) as a number.
using Handle = std::uintptr_t;
inline constexpr Handle NoHandle = ~Handle{0};

class Socket {
 public:
  Socket() = default;
  explicit Socket(Handle handle) : handle_(handle) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != NoHandle; }
  void reset();

 private:
  Handle release() {
    const Handle handle = handle_;
    handle_ = NoHandle;
    return handle;
  }
  Handle handle_ = NoHandle;
};

// The socket library, held for as long as this lives (Winsock counts its
// users; on POSIX there is nothing to hold).
class Library {
 public:
  Library();
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool ready() const { return ready_; }

 private:
  bool ready_ = false;
};

// A listening socket on the first address of host:port that allows it.
// Without one, `reason` says why in a few words ("address in use").
Socket listenOn(const std::string& host, int port, std::string& reason);
// The port a bound socket got (the one chosen for port 0).
int localPort(const Socket& socket);

enum class Accepted {
  Client,  // `client` is a new connection
  None,    // nobody waiting, or a client that gave up before being accepted
  Busy,    // out of descriptors or buffers for now: try again a little later
  Failed,  // the listener is broken
};
Accepted acceptClient(const Socket& listener, Socket& client);

enum class Ready { Yes, No, Failed };
// Waits at most `limit` for bytes (or the peer's close) to read.
Ready waitReadable(const Socket& socket, std::chrono::milliseconds limit);
// Waits at most `limit` for room to send.
Ready waitWritable(const Socket& socket, std::chrono::milliseconds limit);

// Bytes read (at most `size`); 0 when the peer has closed; WouldBlock when
// nothing is there yet; Broken on a failure.
inline constexpr long WouldBlock = -1;
inline constexpr long Broken = -2;
long receiveSome(const Socket& socket, char* buffer, std::size_t size);
// Bytes sent (at most `size`); WouldBlock when there is no room; Broken on a
// failure or when the peer has gone.
long sendSome(const Socket& socket, const char* bytes, std::size_t size);

// Sends the peer an end of stream; reading goes on.
void shutdownSending(const Socket& socket);
// Ends the connection both ways; a thread waiting on it wakes up. The caller
// must make sure the socket is not closed meanwhile.
void shutdownBoth(const Socket& socket);

}  // namespace zandrel::site::net
