// The site's HTTP server over real loopback connections: how it reads a
// request (in pieces, chunked, after "100 Continue"), what it refuses and with
// which status, what its answers look like, and its time and connection bounds.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "site_http_server.h"
#include "site_images.h"
#include "site_routes.h"
#include "test_http_client.h"

namespace zandrel::site {
namespace {

using namespace std::chrono_literals;
using testing::rawExchange;
using testing::statusLine;

std::vector<Question> subjectOneExam() {
  std::string error;
  const auto bank = loadQuestionBank(
      ZANDREL_SITE_QUESTIONS_FILE, [](std::string_view n) { return findSiteImage(n) != nullptr; },
      error);
  EXPECT_TRUE(bank) << error;
  return bank ? questionsOf(*bank, Subject::One) : std::vector<Question>{};
}

// A client connection on the loopback `port`.
class Connection {
 public:
  explicit Connection(int port) : sock_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(sock_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const int yes = 1;
    setsockopt(sock_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  }
  ~Connection() { close(sock_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sends `bytes` `piece` bytes at a time, each piece its own segment.
  void send(const std::string& bytes, std::size_t piece = 1 << 20) {
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::string part = bytes.substr(at, piece);
      ASSERT_EQ(::send(sock_, part.data(), part.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(part.size()));
      if (piece < bytes.size()) std::this_thread::sleep_for(1ms);
    }
  }
  // What arrives within `limit`, up to the server's close or `until` seen.
  std::string receive(std::chrono::milliseconds limit, const std::string& until = "") {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string reply;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline &&
           (until.empty() || reply.find(until) == std::string::npos)) {
      pollfd wait{sock_, POLLIN, 0};
      if (poll(&wait, 1, 10) <= 0) continue;
      const ssize_t n = recv(sock_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(n));
    }
    return reply;
  }
  bool closedByServer(std::chrono::milliseconds limit) {
    pollfd wait{sock_, POLLIN, 0};
    char byte;
    return poll(&wait, 1, static_cast<int>(limit.count())) == 1 &&
           recv(sock_, &byte, 1, MSG_DONTWAIT) <= 0;
  }

 private:
  int sock_;
};

// The site's routes behind an HttpServer that also keeps each request it passes on.
class SiteHttpTest : public ::testing::Test {
 protected:
  void SetUp() override { serve({}); }

  void serve(HttpServer::Bounds bounds) {
    server_.reset();
    server_ = std::make_unique<HttpServer>(
        [this](const SiteRequest& request, SiteResponse& response) {
          {
            const std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
          }
          routes_.dispatch(request, response);
        },
        [this](const std::string& line) {
          const std::lock_guard<std::mutex> lock(mutex_);
          log_.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
        },
        bounds);
    BindFailure failure = BindFailure::Other;
    ASSERT_TRUE(server_->bind("127.0.0.1", 0, failure)) << describe(failure);
    ASSERT_TRUE(server_->start());
  }

  int port() const { return server_->port(); }
  SiteRequest lastRequest() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_.empty() ? SiteRequest{} : requests_.back();
  }
  std::string lastLogged() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return log_.empty() ? "" : log_.back();
  }

  SiteRoutes routes_{Subject::One, subjectOneExam()};
  std::mutex mutex_;
  std::vector<SiteRequest> requests_;
  std::vector<std::string> log_;  // without the time and address
  std::unique_ptr<HttpServer> server_;
};

std::string form(const std::string& target, const std::string& body) {
  return "POST " + target +
         " HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(SiteHttpTest, HandInArrivingByteByByteIsReadWholeAndAnswered) {
  Connection c(port());
  c.send(form("/score/?from=query", "k1-001=A&note=a+b%21&k1-001=B"), 1);
  const std::string sent = c.receive(5s);
  // No sitting of this site: a page that says so (the exam tests hand in real ones).
  EXPECT_EQ(sent.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << sent;
  EXPECT_NE(sent.find("\r\nConnection: close\r\n\r\n<!DOCTYPE html>"), std::string::npos) << sent;
  EXPECT_TRUE(sent.ends_with("</html>\n")) << sent;

  const SiteRequest request = lastRequest();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/score/");
  EXPECT_EQ(request.headerValues("content-type"),
            std::vector<std::string>{"application/x-www-form-urlencoded"});
  const Fields expected = {{"from", "query"}, {"k1-001", "A"}, {"note", "a b!"}, {"k1-001", "B"}};
  EXPECT_EQ(request.params, expected);
  EXPECT_EQ(lastLogged(), "POST /score/ 200");
}

TEST_F(SiteHttpTest, ChunkedHandInIsJoinedAndTrailersSkipped) {
  Connection c(port());
  c.send(
      "POST /score/ HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Transfer-Encoding: chunked\r\n\r\n"
      "5;ext=1\r\nk1-00\r\n3\r\n1=A\r\n0\r\nX-Trailer: 1\r\n\r\n",
      7);
  EXPECT_EQ(statusLine(c.receive(5s)), "HTTP/1.1 200 OK");
  EXPECT_EQ(lastRequest().param("k1-001"), "A");
}

TEST_F(SiteHttpTest, PagesComeFromTheRouteTableAndHeadLeavesOutTheBody) {
  SiteRequest direct;
  direct.method = "GET";
  direct.path = "/kaoshi/";
  SiteResponse page;
  routes_.dispatch(direct, page);
  ASSERT_EQ(page.status, 200);

  // Percent-encoded and with a query: still the exam page (each one a sitting
  // of its own, so the pages differ in their draw).
  auto reply =
      testing::parseReply(rawExchange(port(), "GET /%6baoshi/?a=%ZZ&&=&b HTTP/1.0\r\n\r\n"), false);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find("全真模拟考试"), std::string::npos);

  const std::string head = rawExchange(port(), "HEAD /kaoshi/ HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(statusLine(head), "HTTP/1.1 200 OK");
  EXPECT_NE(head.find("\r\nContent-Length: "), std::string::npos);
  EXPECT_TRUE(head.ends_with("\r\n\r\n")) << "no body after the head";

  for (const char* request : {"GET /kaoshi/x HTTP/1.1\r\n\r\n", "OPTIONS /kaoshi/ HTTP/1.1\r\n\r\n",
                              "POST /kaoshi/ HTTP/1.1\r\nContent-Length: 1\r\n\r\nx"}) {
    reply = testing::parseReply(rawExchange(port(), request), false);
    ASSERT_TRUE(reply) << request;
    EXPECT_EQ(reply->status, 404) << request;
    EXPECT_NE(reply->body.find("页面不存在"), std::string::npos) << request;
  }
}

TEST_F(SiteHttpTest, BadRequestsAreRefusedWithTheirStatusAndLogged) {
  std::string manyHeaders = "GET /kaoshi/ HTTP/1.1\r\n";
  for (int i = 0; i < 101; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
  const struct {
    std::string bytes;
    int status;
  } cases[] = {
      {"GARBAGE\r\n\r\n", 400},
      {"GET /" + std::string(9000, 'k') + " HTTP/1.1\r\n\r\n", 414},
      {"GET /kaoshi/ HTTP/1.2\r\n\r\n", 400},
      {"BREW /kaoshi/ HTTP/1.1\r\n\r\n", 400},
      {std::string("GET /ka\0oshi/ HTTP/1.1\r\n\r\n", 26), 400},
      {"GET /kaoshi/ HTTP/1.1\nHost: x\n\n", 400},
      {"GET /kaoshi/ HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", 400},
      {manyHeaders + "\r\n", 431},
      {"GET /kaoshi/ HTTP/1.1\r\nHost : x\r\n\r\n", 400},
      {"GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", 400},
      {"GET /kaoshi/ HTTP/1.1\r\nX: a\x01"
       "b\r\n\r\n",
       400},
      {"POST /score/ HTTP/1.1\r\nHost: x\r\n\r\n", 411},
      {"DELETE /nope HTTP/1.1\r\n\r\n", 404},
      {"POST /score/ HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", 413},
      {form("/score/", std::string(9000, 'a')), 413},
      {"POST /score/ HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n", 400},
      {"POST /score/ HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
      {"POST /score/ HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", 400},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", 501},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", 400},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n10001\r\n", 413},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffffff\r\n", 400},
      {"POST /score/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcd\r\n0\r\n\r\n", 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 60));
    const auto reply = testing::parseReply(rawExchange(port(), c.bytes), false);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status);
    EXPECT_EQ(reply->header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(reply->body.find(std::to_string(c.status)), std::string::npos);
    EXPECT_TRUE(lastLogged().ends_with(" " + std::to_string(c.status))) << lastLogged();
  }
}

TEST_F(SiteHttpTest, ContinueIsSentBeforeAnAwaitedBodyOnly) {
  const std::string head =
      "POST /score/ HTTP/1.1\r\nExpect: 100-continue\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\n\r\n";
  {
    // The client sends its body only once it has the interim answer.
    Connection c(port());
    c.send(head);
    EXPECT_EQ(c.receive(5s, "\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    c.send("k1-001=A");
    EXPECT_EQ(statusLine(c.receive(5s)), "HTTP/1.1 200 OK");
    EXPECT_EQ(lastRequest().param("k1-001"), "A");
  }
  // Refused before the body: no invitation to send it.
  EXPECT_EQ(statusLine(rawExchange(
                port(),
                "POST /score/ HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 70000\r\n\r\n")),
            "HTTP/1.1 413 Payload Too Large");
  EXPECT_EQ(
      statusLine(rawExchange(port(), "POST /score/ HTTP/1.1\r\nExpect: 100-continue\r\n\r\n")),
      "HTTP/1.1 411 Length Required");
}

TEST(HttpServer, AnswerHeadersCannotBeSplit) {
  HttpServer server(
      [](const SiteRequest&, SiteResponse& response) {
        response.status = 302;
        response.headers = {{"Location", "/a\r\nSet-Cookie: evil=1"},
                            {"Cache-Control", "no-store"}};
      },
      nullptr);
  std::string reason;
  ASSERT_TRUE(server.bind("127.0.0.1", 0, reason)) << reason;
  ASSERT_TRUE(server.start());
  EXPECT_EQ(rawExchange(server.port(), "GET / HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 302 Found\r\nCache-Control: no-store\r\nContent-Length: 0\r\n"
            "Connection: close\r\n\r\n");
}

TEST_F(SiteHttpTest, AHeadTooSlowIsAnswered408AndASilentClientDropped) {
  HttpServer::Bounds bounds;
  bounds.headTime = 300ms;
  serve(bounds);
  Connection slow(port());
  Connection silent(port());
  slow.send("GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n");
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(statusLine(slow.receive(3s)), "HTTP/1.1 408 Request Timeout");
  EXPECT_GE(std::chrono::steady_clock::now() - began, 200ms);
  EXPECT_TRUE(silent.closedByServer(3s));
  EXPECT_EQ(silent.receive(100ms), "");
}

TEST_F(SiteHttpTest, ClientsThatHadTheirAnswerNeverKeepANewcomerOut) {
  HttpServer::Bounds bounds;
  bounds.maxConnections = 5;
  bounds.maxAnswered = 40;
  serve(bounds);
  // Each sends a whole request, then neither reads nor closes. A picture,
  // not an exam: what is measured is the admission, not drawing sittings
  // (slow in a sanitizer's build).
  std::vector<std::unique_ptr<Connection>> held;
  for (int i = 0; i < 60; ++i) {
    held.push_back(std::make_unique<Connection>(port()));
    held.back()->send("GET /img/stop.svg HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  for (int i = 0; i < 3; ++i) {
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(statusLine(rawExchange(port(), "GET /img/stop.svg HTTP/1.1\r\n\r\n")),
              "HTTP/1.1 200 OK");
    EXPECT_LT(std::chrono::steady_clock::now() - began, 1s);
  }
  // Past maxAnswered, the oldest answered ones were closed to make room
  // (sooner than the end of their drain).
  EXPECT_EQ(statusLine(held.front()->receive(1s)), "HTTP/1.1 200 OK");
  EXPECT_TRUE(held.front()->closedByServer(0ms));
  EXPECT_LE(server_->openConnections(), bounds.maxConnections + bounds.maxAnswered);
}

TEST(HttpServer, AChildProcessDoesNotKeepThePortOnceTheServerStops) {
  auto server = std::make_unique<HttpServer>([](const SiteRequest&, SiteResponse&) {}, nullptr);
  std::string reason;
  ASSERT_TRUE(server->bind("127.0.0.1", 0, reason)) << reason;
  ASSERT_TRUE(server->start());
  const int port = server->port();
  Connection client(port);  // an accepted connection too
  client.send("GET / HTTP/1.1\r\n");
  std::this_thread::sleep_for(100ms);
  // A program the process starts meanwhile (the browser's web process, say).
  pid_t child = 0;
  char sleepProgram[] = "/bin/sleep";
  char seconds[] = "30";
  char* argv[] = {sleepProgram, seconds, nullptr};
  ASSERT_EQ(posix_spawn(&child, sleepProgram, nullptr, nullptr, argv, environ), 0);
  server->stop();
  server.reset();
  HttpServer again([](const SiteRequest&, SiteResponse&) {}, nullptr);
  EXPECT_TRUE(again.bind("127.0.0.1", port, reason)) << reason << ": the child holds the port";
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
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
