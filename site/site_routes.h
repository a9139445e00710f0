#pragma once
// What the exam site answers, apart from any HTTP library: the route table of
// one host (exam page, hand-in and score page, pictures, short addresses) and
// the sittings it keeps: each exam page is a sitting with a draw of its own,
// which the hand-in is scored against and the score page shows. The server answers through this
// table on Linux and on Windows, so both serve the same pages byte for byte.

#include <chrono>
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

  using Clock = std::chrono::steady_clock;

  // `bank`: the subject's questions, which each sitting draws from. Without
  // any, every page says why (see setBankFault).
  SiteRoutes(Subject subject, std::vector<Question> bank);
  SiteRoutes(const SiteRoutes&) = delete;
  SiteRoutes& operator=(const SiteRoutes&) = delete;

  const std::vector<Route>& table() const { return table_; }

  // Answers `request` by the table: HEAD as GET (the server leaves the body
  // out), a method or path not in the table with the 404 page.
  void dispatch(const SiteRequest& request, SiteResponse& response) const;

  // Sittings kept at once (the oldest makes room), and how long one lives:
  // long enough to hand in and read the review, with room for a hand-in
  // retried after the site did not answer.
  static constexpr std::size_t MaxStoredResults = 1000;
  static constexpr std::chrono::hours SittingLifetime{4};
  // After the exam's time and this much more, a sitting that was never
  // handed in (its page closed, or its hand-in never arrived) is handed in
  // without answers when its score page is asked for.
  static constexpr std::chrono::minutes HandInGrace{10};

  // For tests: the clock the sittings are timed by.
  void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

 private:
  struct Sitting {
    std::vector<const Question*> exam;
    Clock::time_point started;
    bool handedIn = false;
    bool timedOut = false;
    std::vector<ChoiceSet> given;
    ExamResult result;
  };

  void serveExam(const SiteRequest& request, SiteResponse& response);
  void serveScore(const SiteRequest& request, SiteResponse& response);
  void handIn(const SiteRequest& request, SiteResponse& response);
  void serveNotice(SiteResponse& response, std::string_view heading, std::string_view message);
  std::string newToken();
  void dropExpired(Clock::time_point now);
  std::string cookieHeader(const std::string& token) const;

  const Subject subject_;
  const std::vector<Question> bank_;
  const std::string cookieName_;
  std::vector<Route> table_;
  std::function<Clock::time_point()> now_ = [] { return Clock::now(); };

  // Sittings by the token in the browser's cookie, oldest first.
  std::mutex sittingsMutex_;
  std::unordered_map<std::string, Sitting> sittings_;
  std::deque<std::string> sittingOrder_;
  std::random_device randomDevice_;
  std::mt19937_64 random_;
};

// A question bank that could not be used (a teacher's file with a fault):
// what every page of a site without questions says, "file:line: fault". Set
// before the servers start.
void setBankFault(std::string fault);

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
