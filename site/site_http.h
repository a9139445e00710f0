#pragma once
// The HTTP/1.1 side of the Windows exam server, kept free of sockets so that
// it is the same code under test on Linux: reading one request from a byte
// stream with bounded sizes, answering it through SiteRoutes, and writing the
// answer. One request per connection; every answer closes the connection.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "site_routes.h"

namespace zandrel::site::http {

struct Limits {
  std::size_t maxRequestLine = 8192;       // longer: 414
  std::size_t maxHeaderLine = 8192;        // longer: 400
  std::size_t maxHeaderCount = 100;        // more: 431
  std::size_t maxHeaderBytes = 64 * 1024;  // more in all: 431
  std::size_t maxBody = 64 * 1024;         // longer: 413
  std::size_t maxFormBody = 8192;          // a longer url-encoded form: 413
};

// Fills `buffer` with up to `size` bytes and returns how many; 0 when the
// peer has closed, negative on a failure or time-out.
using Receive = std::function<long(char* buffer, std::size_t size)>;

class RequestReader {
 public:
  explicit RequestReader(Receive receive, Limits limits = {});

  enum class Head {
    Complete,  // the request line and headers are in `request`
    Closed,    // the connection ended before a whole request line came
    Rejected,  // `status` says why; `request` holds what was understood
  };
  // Reads the request line and the header fields.
  Head readHead(SiteRequest& request, int& status);

  // After a Complete head: true when the request announces a body (a
  // Content-Length above 0, or chunked).
  bool hasBody() const { return chunked_ || contentLength_ > 0; }
  // The client waits for "100 Continue" before sending its body.
  bool expectsContinue() const { return expectsContinue_; }

  // Reads the body the head announced and adds a url-encoded form's fields
  // to request.params. False with `status` set when it cannot.
  bool readBody(SiteRequest& request, int& status);

 private:
  enum class Line { Ok, TooLong, Malformed, Closed };
  Line readLine(std::size_t maxLength, std::string& line);
  bool readBytes(std::size_t count, std::string& into);
  bool fill();
  Head reject(int code, int& status);
  bool parseRequestLine(const std::string& line, SiteRequest& request, int& status);
  bool checkFraming(const SiteRequest& request, int& status);
  bool readChunked(std::string& body, int& status);

  Receive receive_;
  const Limits limits_;
  std::string buffer_;
  std::size_t start_ = 0;  // first unread byte of buffer_
  bool chunked_ = false;
  std::size_t contentLength_ = 0;
  bool expectsContinue_ = false;
};

// One request read and answered: what to log and what to send.
struct Exchange {
  bool answered = false;  // false: no whole request line came; nothing to send or log
  SiteRequest request;    // method and path for the log (empty when not understood)
  SiteResponse response;
};

// Reads one request and answers it through `routes`. `sendInterim` sends the
// "100 Continue" a client may wait for before its body; false when it failed.
Exchange serveOne(RequestReader& reader, const SiteRoutes& routes,
                  const std::function<bool(std::string_view)>& sendInterim);

// The status text of `status` ("Not Found").
std::string_view reasonPhrase(int status);

// The answer as sent: status line, headers, Content-Type, Content-Length,
// "Connection: close", and the body unless it answers a HEAD request.
std::string serializeResponse(const SiteResponse& response, bool headRequest);

}  // namespace zandrel::site::http
