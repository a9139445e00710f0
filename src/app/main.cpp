#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/embedded_site.h"
#include "app/exam_hosts.h"
#include "app/main_window.h"
#include "app/platform.h"
#include "app/read_aloud.h"
#include "app/single_instance.h"

int main() {
  zandrel::prepareLogOutput();
  // Then: a second start only brings the running window forward.
  const std::unique_ptr<zandrel::InstanceClaim> instance = zandrel::claimSingleInstance();
  if (!instance) return 0;
  // Serving before the window exists, so the browser's first load finds the
  // pages; it stops (last, after the window is gone) when main returns. The
  // window shows the ports it serves on, known only now.
  const auto testHosts = zandrel::parseTestExamHosts(std::getenv(zandrel::kTestExamHostsVariable));
  const std::unique_ptr<zandrel::EmbeddedSite> site =
      testHosts ? nullptr : zandrel::startEmbeddedSite();
  if (testHosts) {
    zandrel::UseExamHosts({testHosts->first, ""}, {testHosts->second, ""});
  } else if (site) {
    zandrel::UseExamHosts(zandrel::shownHost(*site, zandrel::site::Subject::One),
                          zandrel::shownHost(*site, zandrel::site::Subject::Four));
  }
  std::unique_ptr<zandrel::Platform> platform = zandrel::createPlatform();
  if (!platform) return -1;
  const int code = zandrel::RunApplication();
  // A reading thread may still be in its run (a message box it waits on, a page
  // read): give it a moment, and if it is still there keep the platform alive
  // rather than destroy it under that thread; the process is ending anyway.
  if (!zandrel::WaitForReadAloudRuns(std::chrono::milliseconds(500))) {
    [[maybe_unused]] static zandrel::Platform* const keptForRunningThreads = platform.release();
  }
  return code;
}
