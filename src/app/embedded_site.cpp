#include "app/embedded_site.h"

#include <filesystem>
#include <iostream>
#include <optional>

#include "app/exam_addresses.h"
#include "site_images.h"
#include "site_pages.h"
#include "site_paths.h"
#include "site_process.h"

namespace zandrel {

namespace {

constexpr const char* QuestionsFileName = "questions.tsv";

void say(const std::string& line) {
  std::cerr << "zandrel: " << line << std::endl;
}

}  // namespace

EmbeddedSite::EmbeddedSite(const std::vector<Host>& hosts,
                           const std::vector<std::string>& questionFiles) {
  if (hosts.empty()) return;
  keepRunningOnDroppedConnections();
  // A teacher's own bank, where one lies, replaces the built-in one. A bank
  // with a fault is not served in part: the pages say what is wrong.
  const auto knownImage = [](std::string_view name) {
    return site::findSiteImage(name) != nullptr;
  };
  std::optional<std::vector<site::Question>> bank;
  std::string error;
  bool fromFile = false;
  for (const std::string& file : questionFiles) {
    std::error_code missing;
    if (!std::filesystem::exists(site::pathFromUtf8(file), missing)) continue;
    bank = site::loadQuestionBank(file, knownImage, error);
    fromFile = true;
    break;
  }
  if (!fromFile)
    bank = site::parseQuestionBank(site::builtInQuestionBankText(), "questions.tsv (built in)",
                                   knownImage, error);
  if (!bank) {
    say("the question bank cannot be used: " + error);
    site::setBankFault(error);
    bank.emplace();
  }
  for (const Host& host : hosts) {
    std::vector<site::Question> exam = site::questionsOf(*bank, host.subject);
    if (exam.empty() && !bank->empty())
      say("no questions for " + std::string(site::subjectName(host.subject)) +
          "; its pages say so");
    outcomes_.push_back(serve(host, std::move(exam)));
  }
}

EmbeddedSite::Outcome EmbeddedSite::serve(const Host& host, std::vector<site::Question> exam) {
  const std::string wanted = site::formatAddress(host.endpoint.host, host.endpoint.port);
  // The request log of a program with a window goes nowhere.
  auto server = std::make_unique<site::SiteServer>(host.subject, exam, nullptr);
  site::BindFailure failure = site::BindFailure::None;
  if (!server->bind(host.endpoint.host, host.endpoint.port, failure)) {
    const std::string reason(site::describe(failure));
    // Taken, or (on Windows) in a range the system keeps for itself: any free
    // port of the same interface serves as well, since only this program
    // needs to know it. A server of its own, as a failed bind may leave one
    // unusable.
    server = std::make_unique<site::SiteServer>(host.subject, std::move(exam), nullptr);
    site::BindFailure anyPortFailure = site::BindFailure::None;
    if (host.endpoint.port == 0 || !server->bind(host.endpoint.host, 0, anyPortFailure)) {
      const std::string why =
          host.endpoint.port == 0 ? reason : std::string(site::describe(anyPortFailure));
      say("cannot serve " + std::string(site::subjectName(host.subject)) + " on " + wanted + " (" +
          reason + ") nor on another port (" + why + ")");
      return {host.subject, "", "无法在本机地址 " + host.endpoint.host + " 上监听（" + why + "）"};
    }
    say(wanted + " is taken (" + reason + "); serving " +
        std::string(site::subjectName(host.subject)) + " on " + server->address());
  }
  if (!server->start()) {
    say("cannot serve on " + server->address());
    return {host.subject, "", "无法在 " + server->address() + " 上开始服务"};
  }
  Outcome served{host.subject, server->address(), ""};
  servers_.push_back(std::move(server));
  return served;
}

EmbeddedSite::~EmbeddedSite() {
  for (const auto& server : servers_) server->stop();
}

std::vector<std::string> EmbeddedSite::served() const {
  std::vector<std::string> addresses;
  for (const auto& server : servers_) addresses.push_back(server->address());
  return addresses;
}

ExamHost shownHost(const EmbeddedSite& site, site::Subject subject) {
  for (const EmbeddedSite::Outcome& outcome : site.outcomes()) {
    if (outcome.subject != subject) continue;
    if (!outcome.address.empty()) return {outcome.address, ""};
    return {std::string(kNowhereHost), outcome.failure};
  }
  return {std::string(kNowhereHost), "未配置该科目的考试网站"};
}

std::vector<std::string> questionBankLocations(const std::string& programFolder) {
  const std::filesystem::path folder = site::pathFromUtf8(programFolder);
  return {site::utf8FromPath(folder / QuestionsFileName),
          site::utf8FromPath(
              (folder / ".." / "share" / "zandrel" / QuestionsFileName).lexically_normal())};
}

std::unique_ptr<EmbeddedSite> startEmbeddedSite() {
  if (!EmbeddedSiteEnabled) return nullptr;
  const auto subject1 = site::parseEndpoint(Subject1Host);
  const auto subject4 = site::parseEndpoint(Subject4Host);
  if (!subject1 || !subject4) return nullptr;
  return std::make_unique<EmbeddedSite>(
      std::vector<EmbeddedSite::Host>{{site::Subject::One, *subject1},
                                      {site::Subject::Four, *subject4}},
      questionBankLocations(site::programFolder()));
}

}  // namespace zandrel
