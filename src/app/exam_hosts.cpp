#include "app/exam_hosts.h"

#include <sstream>

#include "app/exam_addresses.h"
#include "runtime/error_page.h"

namespace zandrel {
namespace {

struct Hosts {
  std::string subject1{Subject1Host};
  std::string subject4{Subject4Host};
};

Hosts& hosts() {
  static Hosts current;
  return current;
}

std::string address(const std::string& host, std::string_view path) {
  return "http://" + host + std::string(path);
}

}  // namespace

void UseExamHosts(const ExamHost& subject1, const ExamHost& subject4) {
  hosts().subject1 = subject1.host;
  hosts().subject4 = subject4.host;
  clearSiteFailures();
  // Both exams usually fail for the one cause (no question bank): said once.
  if (!subject1.failure.empty() && subject1.failure == subject4.failure) {
    setSiteFailure(address(subject1.host, "/"), subject1.failure);
    return;
  }
  if (!subject1.failure.empty()) {
    setSiteFailure(address(subject1.host, "/"), "科目一：" + subject1.failure);
  }
  if (!subject4.failure.empty()) {
    setSiteFailure(address(subject4.host, "/"), "科目四：" + subject4.failure);
  }
}

std::string Subject1ExamAddress() {
  return address(hosts().subject1, "/kaoshi/");
}
std::string Subject4ExamAddress() {
  return address(hosts().subject4, "/kaoshi/");
}
std::string Subject4ScoreAddress() {
  return address(hosts().subject4, "/score/");
}

std::optional<std::pair<std::string, std::string>> parseTestExamHosts(const char* value) {
  if (value == nullptr) return std::nullopt;
  std::istringstream words(value);
  std::string first;
  std::string second;
  std::string more;
  if (!(words >> first >> second) || (words >> more)) return std::nullopt;
  return std::make_pair(first, second);
}

}  // namespace zandrel
