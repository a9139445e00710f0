// zandrel-site: the local mock-exam website the desktop program shows. One
// process serves the Subject 1 and the Subject 4 host.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/exam_addresses.h"
#include "site_images.h"
#include "site_options.h"
#include "site_questions.h"
#include "site_server.h"

namespace {

using namespace zandrel::site;

constexpr const char* Program = "zandrel-site";

std::string defaultQuestionsFile() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path nextToProgram = self.parent_path() / "questions.tsv";
    if (std::filesystem::exists(nextToProgram, error)) return nextToProgram.string();
  }
  return ZANDREL_SITE_SOURCE_QUESTIONS;
}

// Both hosts' worker threads log; a line is written and flushed whole, so a
// reader of the log (the end-to-end tests) sees each request at once.
class RequestLog {
 public:
  void write(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

 private:
  std::mutex mutex_;
};

int fail(const std::string& message, int code = 1) {
  std::cerr << Program << ": " << message << std::endl;
  return code;
}

int run(int argc, char** argv) {
  Options defaults;
  const auto subject1 = parseEndpoint(zandrel::Subject1Host);
  const auto subject4 = parseEndpoint(zandrel::Subject4Host);
  if (!subject1 || !subject4) return fail("the built-in host addresses are not HOST:PORT");
  defaults.subject1 = *subject1;
  defaults.subject4 = *subject4;

  std::string error;
  const std::optional<Options> options =
      parseOptions(std::vector<std::string>(argv + 1, argv + argc), defaults, error);
  if (!options) return fail(error + " (see --help)", 2);
  if (options->help) {
    std::cout << usageText(defaults);
    return 0;
  }

  const std::string questionsFile =
      options->questionsFile.empty() ? defaultQuestionsFile() : options->questionsFile;
  const auto bank = loadQuestionBank(
      questionsFile, [](std::string_view name) { return findSiteImage(name) != nullptr; }, error);
  if (!bank) return fail(error);

  // SIGINT and SIGTERM are taken by sigtimedwait below, never by a handler:
  // block them before any thread starts so every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  RequestLog log;
  const auto sink = [&log](const std::string& line) { log.write(line); };
  struct Host {
    Subject subject;
    Endpoint endpoint;
    const char* option;
    std::unique_ptr<SiteServer> server;
  };
  std::vector<Host> hosts;
  hosts.push_back({Subject::One, options->subject1, "--subject1", nullptr});
  hosts.push_back({Subject::Four, options->subject4, "--subject4", nullptr});
  for (Host& host : hosts) {
    std::vector<Question> exam = questionsOf(*bank, host.subject);
    if (exam.empty()) {
      return fail(questionsFile + ": no questions for " +
                  std::string(host.subject == Subject::One ? "科目一" : "科目四"));
    }
    host.server = std::make_unique<SiteServer>(host.subject, std::move(exam), sink);
    std::string reason;
    if (!host.server->bind(host.endpoint.host, host.endpoint.port, reason)) {
      const std::string hint = reason == "address in use" ? "stop the other server or pass "
                                                          : "pass another address with ";
      return fail("cannot listen on " + formatAddress(host.endpoint.host, host.endpoint.port) +
                  " (" + reason + "); " + hint + host.option);
    }
  }
  for (Host& host : hosts) {
    if (!host.server->start()) return fail("cannot serve on " + host.server->address());
  }
  log.write(std::string(Program) + ": ready: subject1 http://" + hosts[0].server->address() +
            "/kaoshi/ subject4 http://" + hosts[1].server->address() + "/kaoshi/");

  int code = 0;
  while (true) {
    timespec wait{0, 200 * 1000 * 1000};
    const int received = sigtimedwait(&stopSignals, nullptr, &wait);
    if (received == SIGINT || received == SIGTERM) break;
    if (received < 0 && errno != EAGAIN && errno != EINTR) {
      code = fail("cannot wait for signals");
      break;
    }
    bool failed = false;
    for (const Host& host : hosts) {
      if (host.server->failed()) {
        code = fail("serving on " + host.server->address() + " stopped unexpectedly");
        failed = true;
      }
    }
    if (failed) break;
  }
  for (Host& host : hosts) host.server->stop();
  if (code == 0) log.write(std::string(Program) + ": stopped");
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    return fail(error.what());
  }
}
