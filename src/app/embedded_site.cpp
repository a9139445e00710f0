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
  std::optional<std::vector<site::Question>> bank;
  std::string errors;
  for (const std::string& file : questionFiles) {
    std::string error;
    bank = site::loadQuestionBank(
        file, [](std::string_view name) { return site::findSiteImage(name) != nullptr; }, error);
    if (bank) break;
    errors += (errors.empty() ? "" : "; ") + error;
  }
  if (!bank) {
    say("the exam pages cannot be served: no question bank (" + errors + ")");
    return;
  }
  for (const Host& host : hosts) {
    std::vector<site::Question> exam = site::questionsOf(*bank, host.subject);
    if (exam.empty()) {
      say("no questions for " + std::string(site::subjectName(host.subject)) + "; not serving " +
          site::formatAddress(host.endpoint.host, host.endpoint.port));
      continue;
    }
    // The request log of a program with a window goes nowhere.
    auto server = std::make_unique<site::SiteServer>(host.subject, std::move(exam), nullptr);
    std::string reason;
    if (!server->bind(host.endpoint.host, host.endpoint.port, reason)) {
      say(site::formatAddress(host.endpoint.host, host.endpoint.port) + " is " +
          (reason == "address in use" ? "served already; showing what answers there"
                                      : "not available (" + reason + ")"));
      continue;
    }
    if (!server->start()) {
      say("cannot serve on " + server->address());
      continue;
    }
    servers_.push_back(std::move(server));
  }
}

EmbeddedSite::~EmbeddedSite() {
  for (const auto& server : servers_) server->stop();
}

std::vector<std::string> EmbeddedSite::served() const {
  std::vector<std::string> addresses;
  for (const auto& server : servers_) addresses.push_back(server->address());
  return addresses;
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
