// The Windows server's HTTP side (reading a request, answering it through the
// route table, writing the answer), run here over bytes in memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "site_http.h"
#include "site_images.h"
#include "site_routes.h"

namespace zandrel::site {
namespace {

// A client's bytes, handed out `piece` at a time. Bytes from `gate` on are
// held back until open() (a client waiting for "100 Continue"). A read past
// what is available answers -1, as a quiet client's time-out does, and is
// counted: a reader that waits for more than the request would hang on a
// client that keeps its connection open.
class Feed {
 public:
  explicit Feed(std::string bytes, std::size_t piece = 4096, std::size_t gate = std::string::npos)
      : bytes_(std::move(bytes)), piece_(piece), gate_(std::min(gate, bytes_.size())) {}

  http::Receive receive() {
    return [this](char* buffer, std::size_t size) -> long {
      const std::size_t end = open_ ? bytes_.size() : gate_;
      if (at_ >= end) {
        ++readsPastEnd_;
        return -1;
      }
      const std::size_t count = std::min({size, piece_, end - at_});
      std::memcpy(buffer, bytes_.data() + at_, count);
      at_ += count;
      return static_cast<long>(count);
    };
  }
  void open() { open_ = true; }
  int readsPastEnd() const { return readsPastEnd_; }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t gate_;
  std::size_t at_ = 0;
  bool open_ = false;
  int readsPastEnd_ = 0;
};

std::vector<Question> subjectOneExam() {
  std::string error;
  const auto bank = loadQuestionBank(
      ZANDREL_SITE_QUESTIONS_FILE, [](std::string_view n) { return findSiteImage(n) != nullptr; },
      error);
  EXPECT_TRUE(bank) << error;
  return bank ? questionsOf(*bank, Subject::One) : std::vector<Question>{};
}

class SiteHttpTest : public ::testing::Test {
 protected:
  http::Exchange serve(Feed& feed) {
    http::RequestReader reader(feed.receive());
    return http::serveOne(reader, routes_, [&](std::string_view bytes) {
      interim_.emplace_back(bytes);
      feed.open();
      return true;
    });
  }
  http::Exchange serve(const std::string& bytes, std::size_t piece = 4096) {
    Feed feed(bytes, piece);
    return serve(feed);
  }

  SiteRoutes routes_{Subject::One, subjectOneExam()};
  std::vector<std::string> interim_;
};

std::string form(const std::string& target, const std::string& body) {
  return "POST " + target +
         " HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(SiteHttpTest, HandInArrivingByteByByteIsReadWholeAndNoFurther) {
  Feed feed(form("/score/?from=query", "k1-001=A&note=a+b%21&k1-001=B"), 1);
  const http::Exchange answer = serve(feed);
  ASSERT_TRUE(answer.answered);
  EXPECT_EQ(answer.request.method, "POST");
  EXPECT_EQ(answer.request.path, "/score/");
  EXPECT_EQ(answer.request.headerValues("content-type"),
            std::vector<std::string>{"application/x-www-form-urlencoded"});
  const Fields expected = {{"from", "query"}, {"k1-001", "A"}, {"note", "a b!"}, {"k1-001", "B"}};
  EXPECT_EQ(answer.request.params, expected);
  // No sitting of this site: a page that says so (the exam tests hand in real ones).
  EXPECT_EQ(answer.response.status, 200);
  EXPECT_EQ(feed.readsPastEnd(), 0);
  EXPECT_TRUE(interim_.empty());

  const std::string sent = http::serializeResponse(answer.response, false);
  EXPECT_EQ(sent.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << sent;
  EXPECT_NE(sent.find("\r\nContent-Length: " + std::to_string(answer.response.body.size()) +
                      "\r\nConnection: close\r\n\r\n<!DOCTYPE html>"),
            std::string::npos);
  EXPECT_TRUE(sent.ends_with("</html>\n"));
}

TEST_F(SiteHttpTest, ChunkedHandInIsJoinedAndTrailersSkipped) {
  Feed feed(
      "POST /score/ HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Transfer-Encoding: chunked\r\n\r\n"
      "5;ext=1\r\nk1-00\r\n3\r\n1=A\r\n0\r\nX-Trailer: 1\r\n\r\n",
      7);
  const http::Exchange answer = serve(feed);
  ASSERT_TRUE(answer.answered);
  EXPECT_EQ(answer.response.status, 200);
  EXPECT_EQ(answer.request.param("k1-001"), "A");
  EXPECT_EQ(feed.readsPastEnd(), 0);
}

TEST_F(SiteHttpTest, PagesComeFromTheRouteTableAndHeadLeavesOutTheBody) {
  SiteRequest direct;
  direct.method = "GET";
  direct.path = "/kaoshi/";
  SiteResponse page;
  routes_.dispatch(direct, page);
  ASSERT_EQ(page.status, 200);

  // Percent-encoded and with a query: still the exam page (each one a sitting
  // of its own, so only the size of the page is the same).
  http::Exchange answer = serve("GET /%6baoshi/?a=%ZZ&&=&b HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.response.status, 200);
  EXPECT_NE(answer.response.body.find("全真模拟考试"), std::string::npos);

  answer = serve("HEAD /kaoshi/ HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(answer.response.status, 200);
  const std::string sent = http::serializeResponse(answer.response, true);
  EXPECT_NE(
      sent.find("\r\nContent-Length: " + std::to_string(answer.response.body.size()) + "\r\n"),
      std::string::npos);
  EXPECT_TRUE(sent.ends_with("\r\n\r\n"));
  EXPECT_TRUE(sent.ends_with("\r\n\r\n")) << "no body after the head";

  answer = serve("GET /img/stop.svg HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.response.status, 200);
  EXPECT_EQ(answer.response.contentType, "image/svg+xml");

  for (const char* request : {"GET /kaoshi/x HTTP/1.1\r\n\r\n", "OPTIONS /kaoshi/ HTTP/1.1\r\n\r\n",
                              "POST /kaoshi/ HTTP/1.1\r\nContent-Length: 1\r\n\r\nx"}) {
    answer = serve(request);
    EXPECT_EQ(answer.response.status, 404) << request;
    EXPECT_NE(answer.response.body.find("页面不存在"), std::string::npos) << request;
  }
}

TEST_F(SiteHttpTest, BadRequestsAreRefusedWithTheirStatus) {
  std::string manyHeaders = "GET /kaoshi/ HTTP/1.1\r\n";
  for (int i = 0; i < 101; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
  const struct {
    std::string bytes;
    int status;
    std::string method;  // as logged
    std::string path;
  } cases[] = {
      {"GARBAGE\r\n\r\n", 400, "GARBAGE", ""},
      {"GET /" + std::string(9000, 'k') + " HTTP/1.1\r\n\r\n", 414, "", ""},
      {"GET /kaoshi/ HTTP/1.2\r\n\r\n", 400, "GET", ""},
      {"BREW /kaoshi/ HTTP/1.1\r\n\r\n", 400, "BREW", ""},
      {std::string("GET /ka\0oshi/ HTTP/1.1\r\n\r\n", 26), 400, "", ""},
      {"GET /kaoshi/ HTTP/1.1\nHost: x\n\n", 400, "", ""},
      {"GET /kaoshi/ HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", 400, "GET",
       "/kaoshi/"},
      {manyHeaders + "\r\n", 431, "GET", "/kaoshi/"},
      {"GET /kaoshi/ HTTP/1.1\r\nHost : x\r\n\r\n", 400, "GET", "/kaoshi/"},
      {"GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", 400, "GET", "/kaoshi/"},
      {"GET /kaoshi/ HTTP/1.1\r\nX: a\x01"
       "b\r\n\r\n",
       400, "GET", "/kaoshi/"},
      {"GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n", 400, "GET", "/kaoshi/"},  // head cut short
      {"POST /score/ HTTP/1.1\r\nHost: x\r\n\r\n", 411, "POST", "/score/"},
      {"DELETE /nope HTTP/1.1\r\n\r\n", 404, "DELETE", "/nope"},
      {"POST /score/ HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", 413, "POST", "/score/"},
      {form("/score/", std::string(9000, 'a')), 413, "POST", "/score/"},
      {"POST /score/ HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n", 400, "POST", "/score/"},
      {"POST /score/ HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400, "POST", "/score/"},
      {"POST /score/ HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", 400, "POST",
       "/score/"},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", 501, "POST", "/score/"},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", 400,
       "POST", "/score/"},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffffff\r\n", 413,
       "POST", "/score/"},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcd\r\n0\r\n\r\n", 400,
       "POST", "/score/"},
      {"POST /score/ HTTP/1.1\r\nContent-Length: 50\r\n\r\nk1-0", 400, "POST", "/score/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 60));
    const http::Exchange answer = serve(c.bytes, 1000);
    ASSERT_TRUE(answer.answered);
    EXPECT_EQ(answer.response.status, c.status);
    EXPECT_EQ(answer.request.method, c.method);
    EXPECT_EQ(answer.request.path, c.path);
    EXPECT_EQ(answer.response.contentType, "text/html; charset=utf-8");
    EXPECT_NE(answer.response.body.find(std::to_string(c.status)), std::string::npos);
  }
  EXPECT_TRUE(interim_.empty());
}

TEST_F(SiteHttpTest, AConnectionWithoutAWholeRequestLineIsNotAnswered) {
  for (const char* bytes : {"", "GET /kao", "\x16\x03\x01\x00\xff"}) {
    EXPECT_FALSE(serve(bytes).answered) << bytes;
  }
}

TEST_F(SiteHttpTest, ContinueIsSentBeforeAnAwaitedBodyOnly) {
  const std::string head =
      "POST /score/ HTTP/1.1\r\nExpect: 100-continue\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\n\r\n";
  // The client sends its body only once it has the interim answer.
  Feed feed(head + "k1-001=A", 4096, head.size());
  http::Exchange answer = serve(feed);
  EXPECT_EQ(answer.response.status, 200);
  EXPECT_EQ(answer.request.param("k1-001"), "A");
  EXPECT_EQ(interim_, std::vector<std::string>{"HTTP/1.1 100 Continue\r\n\r\n"});

  // Refused before the body: no invitation to send it.
  interim_.clear();
  answer = serve("POST /score/ HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 70000\r\n\r\n");
  EXPECT_EQ(answer.response.status, 413);
  answer = serve("POST /score/ HTTP/1.1\r\nExpect: 100-continue\r\n\r\n");
  EXPECT_EQ(answer.response.status, 411);
  EXPECT_TRUE(interim_.empty());
}

TEST(SiteHttp, AnswerHeadersCannotBeSplit) {
  SiteResponse response;
  response.status = 302;
  response.headers = {{"Location", "/a\r\nSet-Cookie: evil=1"}, {"Cache-Control", "no-store"}};
  const std::string sent = http::serializeResponse(response, false);
  EXPECT_EQ(sent,
            "HTTP/1.1 302 Found\r\nCache-Control: no-store\r\nContent-Length: 0\r\n"
            "Connection: close\r\n\r\n");
  for (const int status : {400, 404, 411, 413, 414, 431, 501})
    EXPECT_FALSE(http::reasonPhrase(status).empty()) << status;
}

TEST(SiteHttp, PathsAndFormFieldsDecode) {
  EXPECT_EQ(percentDecode("/a%20b+c%2", false), "/a b+c%2");
  EXPECT_EQ(percentDecode("%ZZ%4g%", false), "%ZZ%4g%");
  EXPECT_EQ(percentDecode("%00%e7%a7%91", false), std::string("\0科", 4));
  Fields fields;
  addFormFields("&&a=1+2&flag&k=%3D=&=v", fields);
  const Fields expected = {{"a", "1 2"}, {"flag", ""}, {"k", "=="}, {"", "v"}};
  EXPECT_EQ(fields, expected);
}

}  // namespace
}  // namespace zandrel::site
