#pragma once
// A small HTTP/1.1 client for the site's tests: one request per connection,
// the answer read until the site closes the connection.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "site_routes.h"
#include "site_text.h"

namespace zandrel::site::testing {

// Sends raw bytes to the loopback `port`. With `awaitReply`, returns what
// comes back until the server closes (5 s at most); otherwise closes right
// after sending.
inline std::string rawExchange(int port, const std::string& bytes, bool awaitReply = true) {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = send(sock, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;  // the server may close early on an oversized request
      sent += static_cast<std::size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    while (awaitReply && std::chrono::steady_clock::now() < deadline) {
      pollfd wait{sock, POLLIN, 0};
      if (poll(&wait, 1, 100) <= 0) continue;
      const ssize_t n = recv(sock, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(sock);
  return reply;
}

inline std::string statusLine(const std::string& reply) {
  return reply.substr(0, reply.find("\r\n"));
}

struct Reply {
  int status = 0;
  Fields headers;
  std::string body;

  // The first value of header `name`, or empty.
  std::string header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
      if (equalsIgnoringCase(key, name)) return value;
    }
    return {};
  }
};

// A whole answer: status line, headers, and as many body bytes as its
// Content-Length says (none for HEAD).
inline std::optional<Reply> parseReply(const std::string& bytes, bool headRequest) {
  const std::size_t headEnd = bytes.find("\r\n\r\n");
  if (!bytes.starts_with("HTTP/1.1 ") || headEnd == std::string::npos) return std::nullopt;
  Reply reply;
  reply.status = std::stoi(bytes.substr(9, 3));
  std::size_t length = 0;
  for (std::size_t at = bytes.find("\r\n") + 2; at < headEnd;) {
    const std::size_t end = bytes.find("\r\n", at);
    const std::string line = bytes.substr(at, end - at);
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) return std::nullopt;
    reply.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    if (equalsIgnoringCase(reply.headers.back().first, "Content-Length"))
      length = std::stoul(reply.headers.back().second);
    at = end + 2;
  }
  reply.body = bytes.substr(headEnd + 4);
  if (!headRequest && reply.body.size() != length) return std::nullopt;
  return reply;
}

class Client {
 public:
  explicit Client(int port) : port_(port) {}

  std::optional<Reply> Get(const std::string& path, const Fields& headers = {}) const {
    return send("GET", path, headers, "", "");
  }
  std::optional<Reply> Head(const std::string& path) const {
    return send("HEAD", path, {}, "", "");
  }
  std::optional<Reply> Delete(const std::string& path) const {
    return send("DELETE", path, {}, "", "");
  }
  std::optional<Reply> Put(const std::string& path, const std::string& body,
                           const std::string& type) const {
    return send("PUT", path, {}, body, type);
  }
  std::optional<Reply> Post(const std::string& path, const std::string& body,
                            const std::string& type) const {
    return send("POST", path, {}, body, type);
  }
  // A url-encoded form.
  std::optional<Reply> Post(const std::string& path, const Fields& form,
                            const Fields& headers = {}) const {
    std::string body;
    for (const auto& [name, value] : form) {
      if (!body.empty()) body += '&';
      body += encode(name) + "=" + encode(value);
    }
    return send("POST", path, headers, body, "application/x-www-form-urlencoded");
  }

 private:
  static std::string encode(std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_' || c == '.' || c == '~') {
        out += c;
      } else {
        out += '%';
        out += Hex[byte >> 4];
        out += Hex[byte & 15];
      }
    }
    return out;
  }

  std::optional<Reply> send(const std::string& method, const std::string& path,
                            const Fields& headers, const std::string& body,
                            const std::string& type) const {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
    if (!type.empty()) request += "Content-Type: " + type + "\r\n";
    if (!body.empty() || method == "POST" || method == "PUT")
      request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    return parseReply(rawExchange(port_, request), method == "HEAD");
  }

  int port_;
};

}  // namespace zandrel::site::testing
