// zandrel-site: the local mock-exam website the desktop program shows. One
// process serves the Subject 1 and the Subject 4 host.

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/exam_addresses.h"
#include "site_images.h"
#include "site_options.h"
#include "site_paths.h"
#include "site_process.h"
#include "site_questions.h"
#include "site_server.h"

namespace {

using namespace zandrel::site;

constexpr const char* Program = "zandrel-site";

constexpr const char* QuestionsFileName = "questions.tsv";

// A data file next to the program (a teacher's own bank) replaces the bank
// built into it.
std::string questionsFileBesideProgram() {
  const std::string folder = programFolder();
  const std::string nextToProgram = folder.empty()
                                        ? std::string(QuestionsFileName)
                                        : utf8FromPath(pathFromUtf8(folder) / QuestionsFileName);
  std::error_code error;
  return std::filesystem::exists(pathFromUtf8(nextToProgram), error) ? nextToProgram
                                                                     : std::string();
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

int run(const std::vector<std::string>& args) {
  Options defaults;
  const auto subject1 = parseEndpoint(zandrel::Subject1Host);
  const auto subject4 = parseEndpoint(zandrel::Subject4Host);
  if (!subject1 || !subject4) return fail("the built-in host addresses are not HOST:PORT");
  defaults.subject1 = *subject1;
  defaults.subject4 = *subject4;

  std::string error;
  const std::optional<Options> options = parseOptions(args, defaults, error);
  if (!options) return fail(error + " (see --help)", 2);
  if (options->help) {
    std::cout << usageText(defaults);
    return 0;
  }

  const std::string questionsFile =
      options->questionsFile.empty() ? questionsFileBesideProgram() : options->questionsFile;
  const auto knownImage = [](std::string_view name) { return findSiteImage(name) != nullptr; };
  const auto bank = questionsFile.empty()
                        ? parseQuestionBank(builtInQuestionBankText(), "questions.tsv (built in)",
                                            knownImage, error)
                        : loadQuestionBank(questionsFile, knownImage, error);
  if (!bank) return fail(error);

  // Before any thread starts (see StopRequest).
  StopRequest stopRequest;

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
      return fail((questionsFile.empty() ? std::string("the built-in bank") : questionsFile) +
                  ": no questions for " +
                  std::string(host.subject == Subject::One ? "科目一" : "科目四"));
    }
    host.server = std::make_unique<SiteServer>(host.subject, std::move(exam), sink);
    BindFailure failure = BindFailure::None;
    if (!host.server->bind(host.endpoint.host, host.endpoint.port, failure)) {
      const std::string hint = failure == BindFailure::AddressInUse
                                   ? "stop the other server or pass "
                                   : "pass another address with ";
      return fail("cannot listen on " + formatAddress(host.endpoint.host, host.endpoint.port) +
                  " (" + std::string(describe(failure)) + "); " + hint + host.option);
    }
  }
  for (Host& host : hosts) {
    if (!host.server->start()) return fail("cannot serve on " + host.server->address());
  }
  log.write(std::string(Program) + ": ready: subject1 http://" + hosts[0].server->address() +
            "/kaoshi/ subject4 http://" + hosts[1].server->address() + "/kaoshi/");

  int code = 0;
  while (true) {
    const StopRequest::Wait waited = stopRequest.wait(std::chrono::milliseconds(200));
    if (waited == StopRequest::Wait::Stop) break;
    if (waited == StopRequest::Wait::Failed) {
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
  // Both hosts wind down at once, so stopping takes one host's grace, not two.
  for (Host& host : hosts) host.server->requestStop();
  for (Host& host : hosts) host.server->stop();
  if (code == 0) log.write(std::string(Program) + ": stopped");
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  prepareConsole();
  int code = 0;
  try {
    code = run(programArguments(argc, argv));
  } catch (const std::exception& error) {
    code = fail(error.what());
  }
  if (code != 0) holdOwnConsoleWindow();
  return code;
}
