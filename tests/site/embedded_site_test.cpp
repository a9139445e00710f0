#include "app/embedded_site.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

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

TEST(EmbeddedSite, ServesWhatIsFreeLeavesWhatIsHeldAndStopsWhenDestroyed) {
  HeldPort held;
  ASSERT_NE(held.port(), 0);
  int servedPort = 0;
  {
    // The first bank location does not exist: the next one is used.
    const EmbeddedSite site({{Subject::One, Endpoint{"127.0.0.1", 0}},
                             {Subject::Four, Endpoint{"127.0.0.1", held.port()}}},
                            {"/nonexistent/questions.tsv", ZANDREL_SITE_QUESTIONS_FILE});
    const std::vector<std::string> served = site.served();
    ASSERT_EQ(served.size(), 1u);
    servedPort = portOf(served[0]);
    httplib::Client client("127.0.0.1", servedPort);
    const auto page = client.Get("/kaoshi/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("科目一"), std::string::npos);
  }
  httplib::Client after("127.0.0.1", servedPort);
  after.set_connection_timeout(1);
  EXPECT_FALSE(after.Get("/kaoshi/")) << "still served after the site was destroyed";
}

TEST(EmbeddedSite, WithoutAQuestionBankServesNothing) {
  const EmbeddedSite site({{Subject::One, Endpoint{"127.0.0.1", 0}}}, {"/nonexistent/q.tsv"});
  EXPECT_TRUE(site.served().empty());
}

TEST(EmbeddedSite, LooksBesideTheProgramThenInTheInstalledDataFolder) {
  EXPECT_EQ(
      questionBankLocations("/opt/z/bin"),
      (std::vector<std::string>{"/opt/z/bin/questions.tsv", "/opt/z/share/zandrel/questions.tsv"}));
}

}  // namespace
}  // namespace zandrel
