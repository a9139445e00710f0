#include "app/embedded_site.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>

#include <string>
#include <vector>

#include "test_http_client.h"

namespace zandrel {
namespace {

using site::Endpoint;
using site::Subject;

// A port held by something that is not the site: bound and listening, never
// answering.
class HeldPort {
 public:
  HeldPort() : sock_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(sock_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(sock_, 4) == 0 &&
        getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~HeldPort() { close(sock_); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  int port() const { return port_; }

 private:
  int sock_;
  int port_ = 0;
};

int portOf(const std::string& address) {
  return std::stoi(address.substr(address.rfind(':') + 1));
}

std::string getKaoshi(int port) {
  return site::testing::rawExchange(port, "GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n\r\n");
}

TEST(EmbeddedSite, ServesAHeldPortsExamOnAnotherPortAndStopsWhenDestroyed) {
  HeldPort held;
  ASSERT_NE(held.port(), 0);
  std::vector<int> ports;
  {
    // The first bank location does not exist: the next one is used.
    const EmbeddedSite site({{Subject::One, Endpoint{"127.0.0.1", 0}},
                             {Subject::Four, Endpoint{"127.0.0.1", held.port()}}},
                            {"/nonexistent/questions.tsv", ZANDREL_SITE_QUESTIONS_FILE});
    ASSERT_EQ(site.outcomes().size(), 2u);
    for (const auto& outcome : site.outcomes()) {
      EXPECT_EQ(outcome.failure, "");
      ASSERT_FALSE(outcome.address.empty());
      ports.push_back(portOf(outcome.address));
    }
    EXPECT_EQ(site.served().size(), 2u);
    // Never the port something else holds: the window would show that instead.
    EXPECT_NE(ports[1], held.port());
    const std::pair<int, const char*> exams[] = {{ports[0], "科目一"}, {ports[1], "科目四"}};
    for (const auto& [port, subject] : exams) {
      const auto page = site::testing::parseReply(getKaoshi(port), false);
      ASSERT_TRUE(page);
      EXPECT_EQ(page->status, 200);
      EXPECT_NE(page->body.find(subject), std::string::npos);
    }
    EXPECT_EQ(shownHost(site, Subject::Four).host, site.outcomes()[1].address);
  }
  for (int port : ports) {
    EXPECT_EQ(getKaoshi(port), "") << "still served after the site was destroyed";
  }
}

std::string examPage(int port) {
  const auto page = site::testing::parseReply(
      site::testing::rawExchange(port, "GET /kaoshi/ HTTP/1.1\r\nHost: x\r\n\r\n"), false);
  return page && page->status == 200 ? page->body : std::string();
}

TEST(EmbeddedSite, WithoutABankFileServesTheBuiltInBank) {
  const EmbeddedSite site({{Subject::Four, Endpoint{"127.0.0.1", 0}}}, {"/nonexistent/q.tsv"});
  ASSERT_EQ(site.served().size(), 1u);
  const std::string page = examPage(portOf(site.served()[0]));
  EXPECT_NE(page.find("第1题"), std::string::npos);
}

TEST(EmbeddedSite, ABankFileWithAFaultIsNotServedInPartButReported) {
  const std::string path = ::testing::TempDir() + "zandrel-bad-questions.tsv";
  {
    std::ofstream file(path, std::ios::binary);
    file << "k1-001\t科目一\t判断\t题\t\t对\t\t解析\n"
            "k1-002\t科目一\t单选\t题\t甲|乙\tC\t\t解析\n";
  }
  {
    const EmbeddedSite site({{Subject::One, Endpoint{"127.0.0.1", 0}}}, {path});
    ASSERT_EQ(site.served().size(), 1u);
    const std::string page = examPage(portOf(site.served()[0]));
    EXPECT_NE(page.find(path + ":2: the answer &quot;C&quot; names no choice"), std::string::npos);
    EXPECT_EQ(page.find("第1题"), std::string::npos);
  }
  site::setBankFault("");
  std::remove(path.c_str());
}

TEST(EmbeddedSite, LooksBesideTheProgramThenInTheInstalledDataFolder) {
  EXPECT_EQ(
      questionBankLocations("/opt/z/bin"),
      (std::vector<std::string>{"/opt/z/bin/questions.tsv", "/opt/z/share/zandrel/questions.tsv"}));
}

}  // namespace
}  // namespace zandrel
