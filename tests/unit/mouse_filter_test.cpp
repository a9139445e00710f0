// The browser mouse filter over a scripted hook platform: what it installs and
// which events it swallows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_hooks.h"
#include "hooks/mouse_filter.h"

namespace zandrel {
namespace {

using testing::FakeMouseHookPlatform;
using testing::ScopedHookServices;

constexpr WindowHandle kBrowser = 0xB0;
constexpr std::intptr_t kEvent = 0x7E57;

class MouseFilter : public ::testing::Test {
 protected:
  void SetUp() override { InstallBrowserMouseFilter(kBrowser); }
  FakeMouseHookPlatform mouse;
  ScopedHookServices scope{nullptr, &mouse};
};

TEST_F(MouseFilter, InstallsOnTheBrowsersThreadAndKeepsWhatTheInstallationYields) {
  EXPECT_EQ(mouse.threadQueries, std::vector<WindowHandle>{kBrowser});
  ASSERT_EQ(mouse.installs.size(), 1u);
  EXPECT_EQ(mouse.installs[0].thread, 4242u);
  EXPECT_EQ(mouse.installs[0].filter, &BrowserMouseFilter);
  EXPECT_EQ(CurrentMouseFilter().hook, mouse.hookToReturn);
  EXPECT_EQ(CurrentMouseFilter().thread, 4242u);
  EXPECT_EQ(CurrentMouseFilter().process, 777u);
}

TEST_F(MouseFilter, SwallowsOnlyTheRightButtonReleaseWhileThePageHasTheFocus) {
  mouse.focusClass = "Internet Explorer_Server";
  mouse.nextHookResult = 9;
  EXPECT_EQ(BrowserMouseFilter(0, kRightButtonUp, kEvent), 1);
  EXPECT_EQ(BrowserMouseFilter(3, kRightButtonUp, 0), 1);
  EXPECT_TRUE(mouse.nextHookCalls.empty());

  // Moves, left/right/middle/X buttons down, up and double-click, the wheels,
  // and the right release outside the client area all pass.
  for (std::uintptr_t message : {0x200u, 0x201u, 0x202u, 0x203u, 0x204u, 0x206u, 0x207u, 0x208u,
                                 0x209u, 0x20Au, 0x20Bu, 0x20Cu, 0x20Du, 0x20Eu, 0xA5u, 0x305u}) {
    mouse.nextHookCalls.clear();
    EXPECT_EQ(BrowserMouseFilter(0, message, kEvent), 9) << std::hex << message;
    ASSERT_EQ(mouse.nextHookCalls.size(), 1u) << std::hex << message;
    EXPECT_EQ(mouse.nextHookCalls[0].message, message);
  }
}

TEST_F(MouseFilter, PassesTheReleaseOnUnchangedWhenAnythingElseHasTheFocus) {
  mouse.nextHookResult = -3;
  for (const std::string& focus :
       std::vector<std::string>{"", "internet explorer_server", "Internet Explorer_Server ",
                                "Internet Explorer_ServerX", "Internet Explorer", "Shell Embedding",
                                std::string("Internet Explorer_Server\0x", 26)}) {
    mouse.focusClass = focus;
    mouse.nextHookCalls.clear();
    EXPECT_EQ(BrowserMouseFilter(-1, kRightButtonUp, kEvent), -3) << focus;
    ASSERT_EQ(mouse.nextHookCalls.size(), 1u);
    const auto& call = mouse.nextHookCalls[0];
    EXPECT_EQ(call.hook, mouse.hookToReturn);
    EXPECT_EQ(call.code, -1);
    EXPECT_EQ(call.message, kRightButtonUp);
    EXPECT_EQ(call.event, kEvent);
  }
}

TEST_F(MouseFilter, FollowsThePlatformsDocumentClassAndNeverMatchesNoFocus) {
  mouse.documentClass = "WebKitWebView";
  mouse.focusClass = "Internet Explorer_Server";
  EXPECT_EQ(BrowserMouseFilter(0, kRightButtonUp, kEvent), 0);
  mouse.focusClass = "WebKitWebView";
  EXPECT_EQ(BrowserMouseFilter(0, kRightButtonUp, kEvent), 1);

  // A platform that could not name its document window swallows nothing.
  mouse.documentClass = "";
  mouse.focusClass = "";
  EXPECT_EQ(BrowserMouseFilter(0, kRightButtonUp, kEvent), 0);
  EXPECT_EQ(mouse.nextHookCalls.size(), 2u);
}

}  // namespace
}  // namespace zandrel
