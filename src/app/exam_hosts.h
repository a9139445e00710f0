#pragma once
// The two exam hosts the window shows, and the exam and score addresses made
// of them. A build for other hosts shows the hosts it was built with. A build
// for the local exam site knows its hosts only at start: its own site serves
// on the default ports when they are free and on free loopback ports
// otherwise, and the window never shows a server the program did not start.

#include <optional>
#include <string>
#include <string_view>

namespace zandrel {

// A host nothing can answer on (no server can listen on port 0): shown for an
// exam the program's own site could not serve, so that the load fails and the
// message names why, instead of whatever else holds the default port.
inline constexpr std::string_view kNowhereHost = "127.0.0.1:0";

struct ExamHost {
  std::string host;     // "127.0.0.1:47101"
  std::string failure;  // why the program's own site could not serve it; empty when it can
};

// Fixed once at start, before the window is built (the UI thread reads them
// afterwards). Until then the build's hosts. A failure is passed on to the
// page shown in place of that exam's pages.
void UseExamHosts(const ExamHost& subject1, const ExamHost& subject4);

std::string Subject1ExamAddress();
std::string Subject4ExamAddress();
// Compared with the browser's address as a whole text, as built at start.
std::string Subject4ScoreAddress();

// The end-to-end tests show pages of their own test servers, which the
// program would otherwise refuse to show: "HOST1 HOST4" in the variable
// ZANDREL_TEST_EXAM_HOSTS names them, and the program then serves no site.
inline constexpr const char* kTestExamHostsVariable = "ZANDREL_TEST_EXAM_HOSTS";
std::optional<std::pair<std::string, std::string>> parseTestExamHosts(const char* value);

}  // namespace zandrel
