#include "site_http.h"

#include <algorithm>
#include <array>
#include <exception>
#include <vector>

#include "site_text.h"

namespace zandrel::site::http {

namespace {

constexpr std::size_t ChunkSizeLineMax = 1024;

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The characters of a method or header name (RFC 9110 "token").
bool isTokenCharacter(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  for (const char allowed : std::string_view("!#$%&'*+-.^_`|~")) {
    if (c == allowed) return true;
  }
  return false;
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!isTokenCharacter(c)) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The methods of HTTP/1.1 (and HTTP/2's preface); any other is answered 400.
bool isKnownMethod(std::string_view method) {
  static constexpr std::array<std::string_view, 10> Known = {
      "GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH", "PRI"};
  for (const std::string_view known : Known) {
    if (method == known) return true;
  }
  return false;
}

std::vector<std::string_view> splitOnSpaces(std::string_view line) {
  std::vector<std::string_view> parts;
  while (!line.empty()) {
    const std::size_t space = line.find(' ');
    if (space != 0) parts.push_back(line.substr(0, space));
    if (space == std::string_view::npos) break;
    line.remove_prefix(space + 1);
  }
  return parts;
}

}  // namespace

RequestReader::RequestReader(Receive receive, Limits limits)
    : receive_(std::move(receive)), limits_(limits) {}

bool RequestReader::fill() {
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  char chunk[4096];
  const long received = receive_(chunk, sizeof chunk);
  if (received <= 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(received));
  return true;
}

RequestReader::Line RequestReader::readLine(std::size_t maxLength, std::string& line) {
  std::size_t searchFrom = start_;
  while (true) {
    const std::size_t newline = buffer_.find('\n', searchFrom);
    if (newline != std::string::npos) {
      const std::size_t begin = start_;
      start_ = newline + 1;
      // Lines end with CRLF; a bare LF is refused.
      if (newline == begin || buffer_[newline - 1] != '\r') return Line::Malformed;
      if (newline - 1 - begin > maxLength) return Line::TooLong;
      line.assign(buffer_, begin, newline - 1 - begin);
      return Line::Ok;
    }
    // Without its CRLF so far, and already longer than a line may be.
    if (buffer_.size() - start_ > maxLength + 1) return Line::TooLong;
    const std::size_t searched = buffer_.size() - start_;
    if (!fill()) return Line::Closed;
    searchFrom = start_ + searched;
  }
}

bool RequestReader::readBytes(std::size_t count, std::string& into) {
  while (true) {
    const std::size_t take = std::min(count, buffer_.size() - start_);
    into.append(buffer_, start_, take);
    start_ += take;
    count -= take;
    if (count == 0) return true;
    if (!fill()) return false;
  }
}

RequestReader::Head RequestReader::reject(int code, int& status) {
  status = code;
  return Head::Rejected;
}

bool RequestReader::parseRequestLine(const std::string& line, SiteRequest& request, int& status) {
  status = 400;
  for (const char c : line) {
    if (isControl(c)) return false;
  }
  const std::vector<std::string_view> parts = splitOnSpaces(line);
  // The method is logged even when the rest does not parse.
  if (!parts.empty()) request.method = std::string(parts[0]);
  if (parts.size() != 3 || !isKnownMethod(parts[0])) return false;
  if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") return false;
  const std::string_view target = parts[1];
  const std::size_t query = target.find('?');
  request.path = percentDecode(target.substr(0, query), false);
  if (query != std::string_view::npos) addFormFields(target.substr(query + 1), request.params);
  return true;
}

RequestReader::Head RequestReader::readHead(SiteRequest& request, int& status) {
  readingHead_ = true;
  const Head head = readHeadFields(request, status);
  readingHead_ = false;
  return head;
}

RequestReader::Head RequestReader::readHeadFields(SiteRequest& request, int& status) {
  request = SiteRequest{};
  chunked_ = false;
  contentLength_ = 0;
  expectsContinue_ = false;

  std::string line;
  switch (readLine(limits_.maxRequestLine, line)) {
    case Line::Ok:
      break;
    case Line::Closed:
      return Head::Closed;
    case Line::TooLong:
      return reject(414, status);
    case Line::Malformed:
      return reject(400, status);
  }
  if (!parseRequestLine(line, request, status)) return Head::Rejected;

  std::size_t count = 0;
  std::size_t bytes = 0;
  while (true) {
    const Line read = readLine(limits_.maxHeaderLine, line);
    // The head ended early: answered all the same, should the client still listen.
    if (read != Line::Ok) return reject(400, status);
    if (line.empty()) break;
    bytes += line.size() + 2;
    if (++count > limits_.maxHeaderCount || bytes > limits_.maxHeaderBytes)
      return reject(431, status);
    // No folded continuation lines and no space before the colon: both are
    // ways to make two parsers read different headers.
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || !isToken(std::string_view(line).substr(0, colon)))
      return reject(400, status);
    const std::string_view value = trimmed(std::string_view(line).substr(colon + 1));
    for (const char c : value) {
      if (isControl(c) && c != '\t') return reject(400, status);
    }
    request.headers.emplace_back(line.substr(0, colon), std::string(value));
  }
  if (!checkFraming(request, status)) return Head::Rejected;
  return Head::Complete;
}

bool RequestReader::checkFraming(const SiteRequest& request, int& status) {
  const std::vector<std::string> encodings = request.headerValues("Transfer-Encoding");
  const std::vector<std::string> lengths = request.headerValues("Content-Length");
  if (!encodings.empty()) {
    // Both at once is how request smuggling starts.
    if (!lengths.empty()) {
      status = 400;
      return false;
    }
    if (encodings.size() != 1 || !equalsIgnoringCase(encodings[0], "chunked")) {
      status = 501;
      return false;
    }
    chunked_ = true;
  } else if (!lengths.empty()) {
    for (const std::string& length : lengths) {
      // Repeated lengths must agree; a length too long to be a number is not one.
      const bool digits = !length.empty() && length.size() <= 18 &&
                          length.find_first_not_of("0123456789") == std::string::npos;
      if (!digits || length != lengths[0]) {
        status = 400;
        return false;
      }
    }
    contentLength_ = std::stoull(lengths[0]);
    if (contentLength_ > limits_.maxBody) {
      status = 413;
      return false;
    }
  }
  for (const std::string& expect : request.headerValues("Expect")) {
    if (equalsIgnoringCase(expect, "100-continue")) expectsContinue_ = hasBody();
  }
  return true;
}

bool RequestReader::readChunked(std::string& body, int& status) {
  std::string line;
  status = 400;
  while (true) {
    if (readLine(ChunkSizeLineMax, line) != Line::Ok) return false;
    const std::string_view sizeText = trimmed(std::string_view(line).substr(0, line.find(';')));
    if (sizeText.empty()) return false;
    std::size_t size = 0;
    for (const char c : sizeText) {
      if (hexValue(c) < 0) return false;
      size = size * 16 + static_cast<std::size_t>(hexValue(c));
      if (size > limits_.maxBody) {
        status = 413;
        return false;
      }
    }
    if (size == 0) break;
    if (body.size() + size > limits_.maxBody) {
      status = 413;
      return false;
    }
    if (!readBytes(size, body)) return false;
    if (readLine(0, line) != Line::Ok) return false;
  }
  // Trailer fields: read past, bounded like the head.
  for (std::size_t count = 0;; ++count) {
    if (count > limits_.maxHeaderCount) {
      status = 431;
      return false;
    }
    if (readLine(limits_.maxHeaderLine, line) != Line::Ok) return false;
    if (line.empty()) return true;
  }
}

bool RequestReader::readBody(SiteRequest& request, int& status) {
  std::string body;
  if (chunked_) {
    // readChunked sets its status on the way, for whichever way it fails.
    int failure = 400;
    if (!readChunked(body, failure)) {
      status = failure;
      return false;
    }
  } else if (!readBytes(contentLength_, body)) {
    status = 400;
    return false;
  }
  const std::vector<std::string> types = request.headerValues("Content-Type");
  if (!types.empty() && types[0].starts_with("application/x-www-form-urlencoded")) {
    if (body.size() > limits_.maxFormBody) {
      status = 413;
      return false;
    }
    addFormFields(body, request.params);
  }
  return true;
}

Exchange serveOne(RequestReader& reader, const SiteRoutes& routes,
                  const std::function<bool(std::string_view)>& sendInterim) {
  return serveOne(
      reader,
      [&routes](const SiteRequest& request, SiteResponse& response) {
        routes.dispatch(request, response);
      },
      sendInterim);
}

Exchange serveOne(RequestReader& reader, const Handler& handle,
                  const std::function<bool(std::string_view)>& sendInterim) {
  Exchange exchange;
  int status = 0;
  const RequestReader::Head head = reader.readHead(exchange.request, status);
  if (head == RequestReader::Head::Closed) return exchange;
  exchange.answered = true;

  if (head == RequestReader::Head::Complete) status = missingLengthStatus(exchange.request);
  if (status == 0 && reader.hasBody()) {
    // A client that is gone shows up as a body that never comes.
    if (reader.expectsContinue() && sendInterim) sendInterim("HTTP/1.1 100 Continue\r\n\r\n");
    reader.readBody(exchange.request, status);
  }
  if (status != 0) {
    exchange.response.status = status;
  } else {
    try {
      handle(exchange.request, exchange.response);
    } catch (const std::exception&) {
      exchange.response = SiteResponse{};
      exchange.response.status = 500;
    }
  }
  addErrorPage(exchange.response);
  return exchange;
}

std::string_view reasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    default:
      return "";
  }
}

std::string serializeResponse(const SiteResponse& response, bool headRequest) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                    std::string(reasonPhrase(response.status)) + "\r\n";
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

}  // namespace zandrel::site::http
