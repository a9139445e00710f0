#pragma once
// What the exam site answers, apart from any HTTP library: the route table of
// one host (exam page, hand-in and score page, pictures, short addresses) and
// the handed-in results it keeps. The server answers through this table on
// Linux and on Windows, so both serve the same pages byte for byte.

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "site_questions.h"

namespace zandrel::site {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct SiteRequest {
  std::string method;  // as sent ("GET", "HEAD", "POST", ...)
  std::string path;    // percent-decoded, without the query
  Fields headers;      // in the order sent
  Fields params;       // query fields, then form fields of the body, decoded

  // Every value of header `name` (names compare case-insensitively).
  std::vector<std::string> headerValues(std::string_view name) const;
  bool hasHeader(std::string_view name) const;
  // The first value of field `name`, or empty.
  std::string param(std::string_view name) const;
};

struct SiteResponse {
  int status = 200;
  Fields headers;           // besides Content-Type and Content-Length
  std::string contentType;  // empty: no body
  std::string body;
};

class SiteRoutes {
 public:
  using Handler = std::function<void(const SiteRequest&, SiteResponse&)>;
  struct Route {
    std::string method;  // GET or POST; a GET route answers HEAD as well
    std::string path;    // the exact path
    Handler handle;
  };

  // `exam`: the subject's questions in the order the exam asks them.
  SiteRoutes(Subject subject, std::vector<Question> exam);
  SiteRoutes(const SiteRoutes&) = delete;
  SiteRoutes& operator=(const SiteRoutes&) = delete;

  const std::vector<Route>& table() const { return table_; }

  // Answers `request` by the table: HEAD as GET (the server leaves the body
  // out), a method or path not in the table with the 404 page.
  void dispatch(const SiteRequest& request, SiteResponse& response) const;

  static constexpr std::size_t MaxStoredResults = 1000;

 private:
  void serveScore(const SiteRequest& request, SiteResponse& response);
  void handIn(const SiteRequest& request, SiteResponse& response);
  std::string storeResult(const ExamResult& result);
  bool findResult(const SiteRequest& request, ExamResult& result);

  const Subject subject_;
  const std::vector<Question> exam_;
  const std::string cookieName_;
  const std::string examPage_;
  std::vector<Route> table_;

  // Handed-in results by the token in the browser's cookie, oldest first.
  std::mutex resultsMutex_;
  std::unordered_map<std::string, ExamResult> results_;
  std::deque<std::string> resultOrder_;
  std::random_device randomDevice_;
};

// A request whose method may carry a body but that says neither how long the
// body is nor that it is chunked: the status to answer at once (411 for a
// hand-in, 404 elsewhere), or 0 when the request is not such a one.
int missingLengthStatus(const SiteRequest& request);

// Gives an error answer without a body the site's error page.
void addErrorPage(SiteResponse& response);

// %XX decoding (and '+' as a space in form fields); a '%' not followed by two
// hex digits stays as it is.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// Adds the fields of "a=1&b=2" (a query or a url-encoded form), decoded.
void addFormFields(std::string_view text, Fields& fields);

}  // namespace zandrel::site
