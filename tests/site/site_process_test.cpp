// zandrel-site as a program: start-up line, request log, signals, exit codes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/exam_addresses.h"
#include "test_http_client.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The program under test as a child process with its output piped back.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), ZANDREL_SITE_PROGRAM);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Child() {
    if (pid_ > 0 && !exitCode_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  void signal(int number) { kill(pid_, number); }

  // Reads output until a whole line of standard output satisfies `wanted` or
  // the time is up; returns that line.
  std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& wanted,
                                         std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (true) {
      std::size_t start = 0;
      for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = out.substr(start, end - start);
        if (wanted(line)) return line;
      }
      if (Clock::now() >= deadline || !pump(deadline)) return std::nullopt;
    }
  }

  // Waits for the exit (reading all output); the exit code, or nothing on time-out.
  std::optional<int> waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (pump(deadline)) {
    }
    while (!exitCode_ && Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return exitCode_;
  }

  std::string out, err;

 private:
  // Reads what is available on either pipe; false once both are closed or the time is up.
  bool pump(Clock::time_point deadline) {
    while (Clock::now() < deadline && (out_ >= 0 || err_ >= 0)) {
      pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      bool got = false;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) continue;
        int& fd = i == 0 ? out_ : err_;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
          (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(n));
          got = true;
        } else {
          close(fd);
          fd = -1;
        }
      }
      if (got) return true;
    }
    return out_ >= 0 || err_ >= 0 ? Clock::now() < deadline : false;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::optional<int> exitCode_;
};

// "2026-12-08T01:02:03"
bool isTimestamp(std::string_view text) {
  constexpr std::string_view shape = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i])
      return false;
  }
  return true;
}

class SiteProcess : public ::testing::TestWithParam<int> {};

TEST_P(SiteProcess, ServesBothHostsLogsRequestsAndStopsOnTheSignal) {
  Child site({"--subject1", "127.0.0.1:0", "--subject4", "127.0.0.1:0"});
  ASSERT_TRUE(site.started());
  int port1 = 0, port4 = 0;
  const auto ready = site.waitForLine(
      [&](const std::string& line) {
        return std::sscanf(line.c_str(),
                           "zandrel-site: ready: subject1 http://127.0.0.1:%d/kaoshi/ subject4 "
                           "http://127.0.0.1:%d/kaoshi/",
                           &port1, &port4) == 2;
      },
      std::chrono::seconds(10));
  ASSERT_TRUE(ready) << site.out << site.err;
  EXPECT_NE(port1, port4);

  for (const int port : {port1, port4}) {
    const auto response = zandrel::site::testing::Client(port).Get("/kaoshi/");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_NE(response->body.find(port == port1 ? "科目一 全真模拟考试" : "科目四 全真模拟考试"),
              std::string::npos);
    const std::string logged = " 127.0.0.1:" + std::to_string(port) + " GET /kaoshi/ 200";
    const auto isLogLine = [&](const std::string& line) {
      return line.size() == 19 + logged.size() && isTimestamp(line.substr(0, 19)) &&
             line.ends_with(logged);
    };
    EXPECT_TRUE(site.waitForLine(isLogLine, std::chrono::seconds(5))) << site.out;
  }

  site.signal(GetParam());
  EXPECT_EQ(site.waitForExit(std::chrono::seconds(8)), 0) << site.err;
  EXPECT_NE(site.out.find("zandrel-site: stopped\n"), std::string::npos);
  EXPECT_EQ(site.err, "");
}

INSTANTIATE_TEST_SUITE_P(Signals, SiteProcess, ::testing::Values(SIGTERM, SIGINT));

// A listening socket on a free loopback port, held for the test.
class BusyPort {
 public:
  BusyPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(fd_, 1) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
  }
  ~BusyPort() { close(fd_); }
  int port = 0;

 private:
  int fd_;
};

TEST(SiteProgram, SaysWhichAddressIsInUseAndExits) {
  BusyPort busy;
  ASSERT_NE(busy.port, 0);
  const std::string address = "127.0.0.1:" + std::to_string(busy.port);
  {
    Child site({"--subject1", address, "--subject4", "127.0.0.1:0"});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 1);
    EXPECT_EQ(site.err, "zandrel-site: cannot listen on " + address +
                            " (address in use); stop the other server or pass --subject1\n");
  }
  {
    Child site({"--subject1", "127.0.0.1:0", "--subject4", address});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 1);
    EXPECT_EQ(site.err, "zandrel-site: cannot listen on " + address +
                            " (address in use); stop the other server or pass --subject4\n");
  }
}

TEST(SiteProgram, CommandLineFaultsAndHelp) {
  {
    Child site({"--help"});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 0);
    // The defaults are the program's built-in exam hosts.
    EXPECT_NE(site.out.find("--subject1 HOST:PORT  Subject 1 host (default " +
                            std::string(zandrel::Subject1Host) + ")"),
              std::string::npos)
        << site.out;
    EXPECT_NE(site.out.find("(default " + std::string(zandrel::Subject4Host) + ")"),
              std::string::npos);
  }
  {
    Child site({"--bogus"});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 2);
    EXPECT_EQ(site.err, "zandrel-site: unknown option --bogus (see --help)\n");
  }
  {
    Child site({"--subject4", "localhost:http"});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 2);
    EXPECT_NE(site.err.find("--subject4 wants HOST:PORT"), std::string::npos) << site.err;
  }
}

TEST(SiteProgram, RefusesABadQuestionFile) {
  const std::string path = ::testing::TempDir() + "zandrel-site-bad-bank.tsv";
  std::ofstream(path) << "# bank\nq1\t科目一\t单选\t题\t甲|乙\tD\t\t解析\n";
  {
    Child site({"--questions", path, "--subject1", "127.0.0.1:0", "--subject4", "127.0.0.1:0"});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 1);
    EXPECT_EQ(site.err,
              "zandrel-site: " + path + ":2: the answer \"D\" names no choice of the 2 listed\n");
  }
  std::ofstream(path) << "q1\t科目一\t判断\t题\t\t对\t\t解析\n";
  {
    Child site({"--questions", path, "--subject1", "127.0.0.1:0", "--subject4", "127.0.0.1:0"});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 1);
    EXPECT_EQ(site.err, "zandrel-site: " + path + ": no questions for 科目四\n");
  }
  std::remove(path.c_str());
  {
    Child site({"--questions", path});
    EXPECT_EQ(site.waitForExit(std::chrono::seconds(10)), 1);
    EXPECT_EQ(site.err, "zandrel-site: cannot read " + path + "\n");
  }
}

}  // namespace
