// The browser mouse filter: which clicks it keeps from the page, and what its
// installation keeps.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_hooks.h"
#include "hooks/mouse_filter.h"

namespace zandrel {
namespace {

constexpr std::string_view kDocument = "Internet Explorer_Server";

TEST(MouseFilter, InstallsForTheBrowserAndKeepsWhatTheInstallationYields) {
  testing::FakeMouseHookPlatform mouse;
  testing::ScopedHookServices scope{nullptr, &mouse};
  InstallBrowserMouseFilter(0xB0);
  EXPECT_EQ(mouse.installs, std::vector<WindowHandle>{0xB0});
  EXPECT_EQ(CurrentMouseFilter().hook, 0x5150u);
  EXPECT_EQ(CurrentMouseFilter().thread, 4242u);
  EXPECT_EQ(CurrentMouseFilter().process, 777u);
}

TEST(MouseFilter, SwallowsOnlyTheRightButtonReleaseWhileThePageHasTheFocus) {
  EXPECT_TRUE(SwallowsMouseEvent(kRightButtonUp, kDocument, kDocument));
  // Moves, left/right/middle/X buttons down, up and double-click, the wheels,
  // and the right release outside the client area all pass.
  for (std::uintptr_t message : {0x200u, 0x201u, 0x202u, 0x203u, 0x204u, 0x206u, 0x207u, 0x208u,
                                 0x209u, 0x20Au, 0x20Bu, 0x20Cu, 0x20Du, 0x20Eu, 0xA5u, 0x305u}) {
    EXPECT_FALSE(SwallowsMouseEvent(message, kDocument, kDocument)) << std::hex << message;
  }
}

TEST(MouseFilter, PassesTheReleaseWhenAnythingElseHasTheFocus) {
  for (const std::string& focus :
       std::vector<std::string>{"", "internet explorer_server", "Internet Explorer_Server ",
                                "Internet Explorer_ServerX", "Internet Explorer", "Shell Embedding",
                                std::string("Internet Explorer_Server\0x", 26)}) {
    EXPECT_FALSE(SwallowsMouseEvent(kRightButtonUp, focus, kDocument)) << focus;
  }
}

TEST(MouseFilter, FollowsThePlatformsDocumentClassAndNeverMatchesNoFocus) {
  EXPECT_FALSE(SwallowsMouseEvent(kRightButtonUp, kDocument, "WebKitWebView"));
  EXPECT_TRUE(SwallowsMouseEvent(kRightButtonUp, "WebKitWebView", "WebKitWebView"));
  // A platform that could not name its document window swallows nothing.
  EXPECT_FALSE(SwallowsMouseEvent(kRightButtonUp, "", ""));
}

}  // namespace
}  // namespace zandrel
