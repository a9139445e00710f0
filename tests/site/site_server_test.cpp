#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "site_http_server.h"
#include "site_images.h"
#include "site_pages.h"
#include "site_questions.h"
#include "site_server.h"
#include "site_text.h"
#include "test_http_client.h"

namespace zandrel::site {
namespace {

// A DIV start tag of a page with the attributes the program's reader looks at
// and its text up to the next tag (its whole inner HTML up to "</div>" as well).
struct Div {
  std::map<std::string, std::string> attributes;
  std::string leadingText;
  std::string innerUpToClose;
};

std::vector<Div> divsOf(const std::string& page) {
  std::vector<Div> divs;
  for (std::size_t at = page.find("<div"); at != std::string::npos;
       at = page.find("<div", at + 1)) {
    const std::size_t end = page.find('>', at);
    Div div;
    // name="value" pairs; the pages quote every attribute value.
    const std::string tag = page.substr(at + 4, end - at - 4);
    for (std::size_t equals = tag.find("=\""); equals != std::string::npos;
         equals = tag.find("=\"", equals + 1)) {
      const std::size_t nameStart = tag.rfind(' ', equals) + 1;
      const std::size_t valueEnd = tag.find('"', equals + 2);
      div.attributes[tag.substr(nameStart, equals - nameStart)] =
          tag.substr(equals + 2, valueEnd - equals - 2);
      equals = valueEnd;
    }
    div.leadingText = page.substr(end + 1, page.find('<', end) - end - 1);
    div.innerUpToClose = page.substr(end + 1, page.find("</div>", end) - end - 1);
    divs.push_back(div);
  }
  return divs;
}

// The DIVs that match "title" the way the program's reader matches them.
std::vector<Div> titleDivs(const std::string& page) {
  std::vector<Div> matches;
  for (const Div& div : divsOf(page)) {
    bool match = div.leadingText == "title" && div.innerUpToClose == "title";
    for (const char* name : {"class", "name", "id", "title"}) {
      const auto found = div.attributes.find(name);
      match = match || (found != div.attributes.end() && found->second == "title");
    }
    if (match) matches.push_back(div);
  }
  return matches;
}

using testing::Client;
using testing::rawExchange;
using testing::statusLine;

class SiteServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A bank of its own with each subject's full format and more.
    std::string text;
    static constexpr const char* Letters[] = {"A", "B", "C", "D"};
    for (const auto& [prefix, name, judge, single, multiple] :
         {std::tuple{"k1-", "科目一", 50, 70, 0}, std::tuple{"k4-", "科目四", 25, 25, 12}}) {
      int n = 0;
      const auto line = [&](const char* type, const char* choices, const char* answer) {
        text += std::string(prefix) + std::to_string(100 + n++) + "\t" + name + "\t" + type +
                "\t问题\t" + choices + "\t" + answer + "\t\t解析\n";
      };
      for (int i = 0; i < judge; ++i) line("判断", "", i % 2 ? "错" : "对");
      for (int i = 0; i < single; ++i) line("单选", "甲|乙|丙|丁", Letters[i % 4]);
      for (int i = 0; i < multiple; ++i) line("多选", "甲|乙|丙|丁", i % 2 ? "AC" : "BCD");
    }
    std::string error;
    const auto bank = parseQuestionBank(
        text, "test.tsv", [](std::string_view n) { return findSiteImage(n) != nullptr; }, error);
    ASSERT_TRUE(bank) << error;
    for (const Subject subject : {Subject::One, Subject::Four}) {
      exams_[subject] = questionsOf(*bank, subject);
      auto server =
          std::make_unique<SiteServer>(subject, exams_[subject], [this](const std::string& line) {
            const std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(line);
          });
      std::string reason;
      ASSERT_TRUE(server->bind("127.0.0.1", 0, reason)) << reason;
      ASSERT_TRUE(server->start());
      servers_[subject] = std::move(server);
    }
  }

  Client client(Subject subject) { return Client(servers_[subject]->port()); }

  // True once a log line equal to `line` after its time stamp appears (1 s at most).
  bool logged(const std::string& rest) {
    for (int i = 0; i < 100; ++i) {
      {
        const std::lock_guard<std::mutex> lock(logMutex_);
        for (const std::string& line : log_) {
          if (line.size() > 20 && line.substr(20) == rest) return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Opens an exam page and hands it in with the first `right` of its
  // questions answered right and the rest wrong, as the page's script does;
  // returns the sitting's cookie ("name=token").
  std::string handIn(Subject subject, int right) {
    auto c = client(subject);
    const auto page = c.Get("/kaoshi/");
    EXPECT_TRUE(page);
    if (!page) return {};
    const std::string set = page->header("Set-Cookie");
    const std::string cookie = set.substr(0, set.find(';'));
    Fields form = {{"sitting", cookie.substr(cookie.find('=') + 1)}};
    int n = 0;
    for (std::size_t at = page->body.find("{id: \""); at != std::string::npos;
         at = page->body.find("{id: \"", at + 1), ++n) {
      const std::string id = page->body.substr(at + 6, page->body.find('"', at + 6) - at - 6);
      for (const Question& q : exams_[subject]) {
        if (q.id != id) continue;
        // Another valid answer: a single one for judge and single choice.
        const ChoiceSet wrong = q.type == QuestionType::MultipleChoice ? q.answer ^ 1u
                                : q.answer == 1u                       ? 2u
                                                                       : 1u;
        const ChoiceSet set = n < right ? q.answer : wrong;
        std::string letters;
        for (std::size_t k = 0; k < 4; ++k) {
          if (set & (1u << k)) letters += choiceLetter(k);
        }
        form.emplace_back(id, letters);
      }
    }
    const auto response = c.Post("/score/", form, {{"X-Requested-With", "XMLHttpRequest"}});
    EXPECT_TRUE(response);
    if (!response) return {};
    EXPECT_EQ(response->status, 200);
    return cookie;
  }

  std::string scorePage(Subject subject, const std::string& cookie) {
    auto c = client(subject);
    const auto response =
        cookie.empty() ? c.Get("/score/") : c.Get("/score/", {{"Cookie", cookie}});
    EXPECT_TRUE(response);
    if (!response) return {};
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->header("Cache-Control"), "no-store");
    return response->body;
  }

  // The log outlives the servers: their worker threads log until they are stopped.
  std::mutex logMutex_;
  std::vector<std::string> log_;
  std::map<Subject, std::vector<Question>> exams_;
  std::map<Subject, std::unique_ptr<SiteServer>> servers_;
};

TEST_F(SiteServerTest, ExamPageHasTheHeaderAndTheQuestionAsItsOnlyTitleDivs) {
  for (const Subject subject : {Subject::One, Subject::Four}) {
    SCOPED_TRACE(std::string(subjectName(subject)));
    auto c = client(subject);
    const auto response = c.Get("/kaoshi/");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->header("Content-Type"), "text/html; charset=utf-8");
    // A reload must reach the server (the end-to-end tests count the requests).
    EXPECT_EQ(response->header("Cache-Control"), "no-store");

    const std::vector<Div> matches = titleDivs(response->body);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].innerUpToClose, std::string(subjectName(subject)) + " 全真模拟考试");
    EXPECT_EQ(matches[1].attributes.at("id"), "question");
    EXPECT_NE(matches[1].innerUpToClose.find("<b>第1题</b>"), std::string::npos);
    EXPECT_NE(response->body.find("操作提示"), std::string::npos);
    EXPECT_EQ(response->body.find("http://"), std::string::npos) << "the page must not reach out";
    // The old engines the page must run in know none of these.
    for (const char* modern : {"=>", "let ", "const ", "addEventListener", "fetch("})
      EXPECT_EQ(response->body.find(modern), std::string::npos) << modern;
  }
}

TEST_F(SiteServerTest, HandingInLeadsToTheScoreOfThatExam) {
  EXPECT_NE(scorePage(Subject::Four, "").find("暂无考试成绩"), std::string::npos);

  const std::string pass = handIn(Subject::Four, 45);
  std::string page = scorePage(Subject::Four, pass);
  std::vector<Div> matches = titleDivs(page);
  ASSERT_EQ(matches.size(), 2u);
  EXPECT_NE(matches[1].innerUpToClose.find("本次考试得分 <b>90</b> 分，成绩合格。"),
            std::string::npos);
  const std::string fail = handIn(Subject::Four, 44);
  page = scorePage(Subject::Four, fail);
  EXPECT_NE(page.find("本次考试得分 <b>88</b> 分，成绩不合格。"), std::string::npos);
  EXPECT_NE(page.find("答对 44 题，答错 6 题，未答 0 题"), std::string::npos);
  // The earlier result is still there for its own browser.
  EXPECT_NE(scorePage(Subject::Four, pass).find("<b>90</b>"), std::string::npos);

  // Both hosts share one host name in the browser, so it sends either host's
  // cookie to both: each host reads only its own.
  const std::string subject1 = handIn(Subject::One, 100);
  EXPECT_NE(scorePage(Subject::Four, subject1).find("暂无考试成绩"), std::string::npos);
  page = scorePage(Subject::One, "other=1; " + fail + "; " + subject1);
  EXPECT_NE(page.find("科目一 模拟考试成绩"), std::string::npos);
  EXPECT_NE(page.find("<b>100</b>"), std::string::npos);
}

TEST_F(SiteServerTest, HandInWithoutAnswersOrWithJunkIsScoredNotRejected) {
  auto c = client(Subject::One);
  const auto exam = c.Get("/kaoshi/");
  ASSERT_TRUE(exam);
  const std::string set = exam->header("Set-Cookie");
  const std::string cookie = set.substr(0, set.find(';'));
  const std::string token = cookie.substr(cookie.find('=') + 1);
  auto response = c.Post(
      "/score/",
      "sitting=" + token + "&k1-001=%ZZ&&=&k1-002=%00&k1-003=" + std::string(2000, 'A') + "&x",
      "application/x-www-form-urlencoded");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 303);
  const std::string page = scorePage(Subject::One, cookie);
  EXPECT_NE(page.find("<b>0</b> 分，成绩不合格"), std::string::npos);
  EXPECT_NE(page.find("答对 0 题，答错 0 题"), std::string::npos);
}

TEST_F(SiteServerTest, AddressesPicturesAndUnknownPaths) {
  auto c = client(Subject::Four);
  auto response = c.Get("/kaoshi");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 301);
  EXPECT_EQ(response->header("Location"), "/kaoshi/");
  response = c.Get("/");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 302);
  EXPECT_EQ(response->header("Location"), "/kaoshi/");

  for (const SiteImage& image : siteImages()) {
    response = c.Get(imagePath(image.name));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200) << image.name;
    EXPECT_EQ(response->header("Content-Type"), "image/svg+xml");
    EXPECT_EQ(response->body.rfind("<svg", 0), 0u);
  }

  for (const char* path : {"/nope", "/kaoshi/x", "/img/nope.svg", "/img/stopXsvg",
                           "/img/stop.svg.bak", "/KAOSHI/", "/score/x", "/..%2f..%2fetc/passwd"}) {
    response = c.Get(path);
    ASSERT_TRUE(response) << path;
    EXPECT_EQ(response->status, 404) << path;
    EXPECT_NE(response->body.find("页面不存在"), std::string::npos) << path;
    EXPECT_TRUE(titleDivs(response->body).empty());
  }
  response = c.Post("/nope", "x=1", "application/x-www-form-urlencoded");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
  response = c.Post("/kaoshi/", "x=1", "application/x-www-form-urlencoded");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
  response = c.Delete("/score/");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
  response = c.Put("/kaoshi/", "x", "text/plain");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
  response = c.Put("/kaoshi/", "x", "text/plain");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);

  response = c.Head("/kaoshi/");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  EXPECT_TRUE(response->body.empty());

  // Query strings are not used; odd ones change nothing.
  for (const char* path : {"/kaoshi/?a=%ZZ&&=&b", "/kaoshi/?%00=%FF%FE", "/score/?x=%0D%0Aevil"}) {
    response = c.Get(path);
    ASSERT_TRUE(response) << path;
    EXPECT_EQ(response->status, 200) << path;
  }
}

TEST_F(SiteServerTest, MalformedAndOversizedRequestsAreAnsweredAndServingGoesOn) {
  const int port = servers_[Subject::One]->port();
  EXPECT_EQ(statusLine(rawExchange(port, "GARBAGE\r\n\r\n")), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(statusLine(rawExchange(port, "GET /kaoshi/ HTTP/1.1\r\nHost: x\r\nX-Big: " +
                                             std::string(100 * 1024, 'a') + "\r\n\r\n")),
            "HTTP/1.1 400 Bad Request");
  // More header fields than allowed, or more bytes of them.
  std::string manyHeaders = "GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 5000; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
  EXPECT_EQ(statusLine(rawExchange(port, manyHeaders + "\r\n")),
            "HTTP/1.1 431 Request Header Fields Too Large");
  std::string largeHeaders = "GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 20; ++i) largeHeaders += "X-H: " + std::string(4000, 'v') + "\r\n";
  EXPECT_EQ(statusLine(rawExchange(port, largeHeaders + "\r\n")),
            "HTTP/1.1 431 Request Header Fields Too Large");
  EXPECT_EQ(
      statusLine(rawExchange(port, "GET /" + std::string(100 * 1024, 'k') + " HTTP/1.1\r\n\r\n")),
      "HTTP/1.1 414 URI Too Long");
  EXPECT_EQ(statusLine(rawExchange(port,
                                   "POST /score/ HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                   "application/x-www-form-urlencoded\r\nContent-Length: "
                                   "100000000\r\n\r\nk1-001=A")),
            "HTTP/1.1 413 Payload Too Large");
  // No length and no chunking: answered at once rather than after a read time-out.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(statusLine(rawExchange(port, "POST /score/ HTTP/1.1\r\nHost: x\r\n\r\n")),
            "HTTP/1.1 411 Length Required");
  EXPECT_EQ(statusLine(rawExchange(port, "DELETE /nope HTTP/1.1\r\nHost: x\r\n\r\n")),
            "HTTP/1.1 404 Not Found");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  // Binary bytes with NULs, as a TLS client would send.
  static constexpr char Binary[] =
      "\x16\x03\x01\x00\xff\x00\x00\x00"
      "binary\r\n\r\n";
  rawExchange(port, std::string(Binary, sizeof Binary - 1), false);
  rawExchange(port, "POST /score/ HTTP/1.1\r\nContent-Length: 50\r\n\r\nk1-0", false);  // cut short
  rawExchange(port, "GET /kaoshi/ HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
              false);
  EXPECT_EQ(statusLine(rawExchange(port, "HEAD /kaoshi/ HTTP/1.0\r\n\r\n")), "HTTP/1.1 200 OK");

  auto c = client(Subject::One);
  const auto response = c.Get("/kaoshi/");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
}

TEST_F(SiteServerTest, EachRequestIsLoggedOnOneLine) {
  auto c = client(Subject::One);
  ASSERT_TRUE(c.Get("/kaoshi/"));
  ASSERT_TRUE(c.Get("/a%0Ab%20c%0D"));
  auto c4 = client(Subject::Four);
  ASSERT_TRUE(c4.Head("/kaoshi/"));
  const std::string one = servers_[Subject::One]->address();
  const std::string four = servers_[Subject::Four]->address();
  EXPECT_EQ(one, "127.0.0.1:" + std::to_string(servers_[Subject::One]->port()));
  EXPECT_TRUE(logged(one + " GET /kaoshi/ 200"));
  EXPECT_TRUE(logged(one + " GET /a%0Ab%20c%0D 404"));
  EXPECT_TRUE(logged(four + " HEAD /kaoshi/ 200"));
  rawExchange(servers_[Subject::Four]->port(), "GARBAGE\r\n\r\n");
  EXPECT_TRUE(logged(four + " - - 400") || logged(four + " GARBAGE - 400"));

  const std::lock_guard<std::mutex> lock(logMutex_);
  for (const std::string& line : log_) {
    // TIME HOST:PORT METHOD PATH STATUS, no field empty or holding a space.
    std::vector<std::string> fields;
    for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
      end = line.find(' ', start);
      fields.push_back(line.substr(start, end == std::string::npos ? end : end - start));
    }
    ASSERT_EQ(fields.size(), 5u) << line;
    EXPECT_EQ(fields[0].size(), 19u) << line;
    EXPECT_EQ(fields[0][10], 'T') << line;
    EXPECT_TRUE(fields[1] == one || fields[1] == four) << line;
    for (const std::string& field : fields) EXPECT_FALSE(field.empty()) << line;
    EXPECT_EQ(fields[4].size(), 3u) << line;
  }
}

TEST(SiteServer, BindReportsAnAddressInUse) {
  SiteServer first(Subject::One, {}, nullptr);
  std::string reason;
  ASSERT_TRUE(first.bind("127.0.0.1", 0, reason));
  SiteServer second(Subject::One, {}, nullptr);
  EXPECT_FALSE(second.bind("127.0.0.1", first.port(), reason));
  EXPECT_EQ(reason, "address in use");
  EXPECT_FALSE(second.bind("no-such-host.invalid", 80, reason));
  EXPECT_EQ(reason, "unknown host");
  // `first` is bound but never started: destroying it must release the port.
}

// Connects to the loopback `port` and sends `bytes`; the connection stays open.
int openConnection(int port, const std::string& bytes) {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
  return sock;
}

TEST(SiteServer, StopsPromptlyWithIdleAndHalfSentRequestsOpen) {
  auto server = std::make_unique<SiteServer>(Subject::One, std::vector<Question>{}, nullptr);
  std::string reason;
  ASSERT_TRUE(server->bind("127.0.0.1", 0, reason));
  ASSERT_TRUE(server->start());
  const int port = server->port();
  std::vector<int> open;
  for (int i = 0; i < 10; ++i) {
    open.push_back(openConnection(port, ""));
    open.push_back(openConnection(port, "GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n"));
    open.push_back(openConnection(port, "POST /score/ HTTP/1.1\r\nContent-Length: 10\r\n\r\nk"));
  }
  // Served all the same.
  EXPECT_EQ(statusLine(rawExchange(port, "GET /kaoshi/ HTTP/1.1\r\n\r\n")), "HTTP/1.1 200 OK");
  const auto before = std::chrono::steady_clock::now();
  server->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  EXPECT_FALSE(server->failed());
  for (const int sock : open) close(sock);
  // The port is free again.
  SiteServer again(Subject::One, {}, nullptr);
  EXPECT_TRUE(again.bind("127.0.0.1", port, reason)) << reason;
}

// True once the server has closed `sock` (within `limitMs`).
bool closedByServer(int sock, int limitMs) {
  pollfd wait{sock, POLLIN, 0};
  char byte;
  return poll(&wait, 1, limitMs) == 1 && recv(sock, &byte, 1, MSG_DONTWAIT) <= 0;
}

TEST(HttpServer, PastItsConnectionBoundTheOldestUnfinishedRequestMakesRoom) {
  HttpServer::Bounds bounds;
  bounds.maxConnections = 10;
  HttpServer server(
      [](const SiteRequest&, SiteResponse& response) {
        response.contentType = "text/plain";
        response.body = "ok";
      },
      nullptr, bounds);
  std::string reason;
  ASSERT_TRUE(server.bind("127.0.0.1", 0, reason)) << reason;
  ASSERT_TRUE(server.start());
  std::vector<int> quiet;
  for (int i = 0; i < 30; ++i) quiet.push_back(openConnection(server.port(), "GET / HTTP/1.1\r\n"));
  EXPECT_EQ(statusLine(rawExchange(server.port(), "GET / HTTP/1.1\r\n\r\n")), "HTTP/1.1 200 OK");
  // The oldest made room; the newest are still open.
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(closedByServer(quiet[i], 1000)) << i;
  for (int i = 22; i < 30; ++i) EXPECT_FALSE(closedByServer(quiet[i], 0)) << i;
  // A dropped connection's socket is shut at once but its thread ends a
  // moment later (later still under the sanitizers); give it that moment.
  const auto settled = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (server.openConnections() > bounds.maxConnections &&
         std::chrono::steady_clock::now() < settled) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LE(server.openConnections(), bounds.maxConnections);
  server.stop();
  for (const int sock : quiet) close(sock);
}

}  // namespace
}  // namespace zandrel::site
