// The page object's way to the document: the window search, attach, and the
// lifetime of the document reference and of the thread's apartment.

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_page.h"
#include "page/web_page.h"
#include "runtime/services.h"

namespace zandrel {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FakeDom;
using testing::FakePageBridge;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

constexpr std::string_view kDoc = FakePageBridge::kDocumentClass;

class WebPageWindowTest : public ::testing::Test {
 protected:
  WebPageWindowTest() {
    bridge.answer = [this](WindowHandle window) {
      return window == view || window == otherView ? dom.ref(document) : nullptr;
    };
  }

  FakePageBridge bridge;
  FakeDom dom;
  std::shared_ptr<testing::FakeNode> document = dom.document({});
  WindowHandle view = 0;
  WindowHandle otherView = 0;
};

TEST_F(WebPageWindowTest, SearchTestsAWindowsOwnClassBeforeItsChildren) {
  const WindowHandle root = bridge.add(0, "root", "Browser");
  const WindowHandle outer = bridge.add(root, "outer", std::string(kDoc));
  bridge.add(outer, "inner", std::string(kDoc));
  WebPage page(bridge);
  EXPECT_EQ(page.findServerWindow(root), outer);
}

TEST_F(WebPageWindowTest, ALongSearchKeepsProcessingTheWindowsMessages) {
  const WindowHandle root = bridge.add(0, "root", "Browser");
  for (int i = 0; i < 20; ++i) {
    bridge.add(bridge.add(root, "shell" + std::to_string(i), "Shell"), "pane", "Pane");
  }
  const WindowHandle match = bridge.add(root, "match", std::string(kDoc));
  int pumps = 0;
  bridge.onPump = [&] { ++pumps; };
  WebPage page(bridge);
  EXPECT_EQ(page.findServerWindow(root), match);
  // Once for every window passed over: the window's own events never wait for
  // the whole search.
  EXPECT_EQ(pumps, 40);
}

TEST_F(WebPageWindowTest, SearchFindsTheFirstDocumentWindowInPreOrder) {
  const WindowHandle root = bridge.add(0, "root", "Browser");
  const WindowHandle a = bridge.add(root, "a", "Shell");
  const WindowHandle deep = bridge.add(bridge.add(a, "a1", "Frame"), "deep", std::string(kDoc));
  bridge.add(root, "b", std::string(kDoc));
  WebPage page(bridge);
  EXPECT_EQ(page.findServerWindow(root), deep);
  EXPECT_EQ(page.findServerWindow(deep), 0u);  // its own class is not its child's
  EXPECT_EQ(page.findServerWindow(bridge.add(0, "lonely", "Shell")), 0u);
}

TEST_F(WebPageWindowTest, SearchSurvivesWindowsDestroyedWhileMessagesAreProcessed) {
  const WindowHandle root = bridge.add(0, "root", "Browser");
  bridge.add(root, "a", "Shell");
  const WindowHandle b = bridge.add(root, "b", "Shell");
  bridge.add(root, "c", std::string(kDoc));
  bridge.onPump = [&] { bridge.destroy(b); };  // b dies between being found and being read
  WebPage page(bridge);
  // The walk loses its place among the siblings and ends without a match.
  EXPECT_EQ(page.findServerWindow(root), 0u);
}

TEST_F(WebPageWindowTest, AttachToTheDocumentWindowItselfMakesNoSearch) {
  const WindowHandle root = bridge.add(0, "root", "Browser");
  view = bridge.add(root, "view", std::string(kDoc));
  WebPage page(bridge);
  EXPECT_TRUE(page.attach(view));
  EXPECT_THAT(bridge.log, Not(Contains(StartsWith("next("))));
  EXPECT_EQ(bridge.log.back(), "document(view,1000)");
  EXPECT_EQ(dom.liveRefs(), 1);
}

TEST_F(WebPageWindowTest, AttachBelowTheBrowserWindowSearchesThenAsksWithTheTimeLimit) {
  const WindowHandle root = bridge.add(0, "root", "Browser");
  view = bridge.add(bridge.add(root, "shell", "Shell"), "view", std::string(kDoc));
  WebPage page(bridge);
  EXPECT_TRUE(page.attach(root));
  EXPECT_EQ(bridge.log.back(), "document(view,1000)");
  EXPECT_NE(page.getDocument(), nullptr);
}

TEST_F(WebPageWindowTest, FailedAttachesLeaveNothingBehind) {
  const WindowHandle root = bridge.add(0, "root", "Browser");
  const WindowHandle shell = bridge.add(root, "shell", "Shell");
  WebPage page(bridge);

  // No document window below the browser yet: nothing is asked for.
  EXPECT_FALSE(page.attach(root));
  EXPECT_EQ(page.getDocument(), nullptr);
  EXPECT_TRUE(std::none_of(bridge.log.begin(), bridge.log.end(),
                           [](const std::string& entry) { return entry.starts_with("document"); }));

  // A document window that does not hand over its document.
  const WindowHandle mute = bridge.add(shell, "mute", std::string(kDoc));
  EXPECT_FALSE(page.attach(root));
  EXPECT_EQ(bridge.log.back(), "document(mute,1000)");
  EXPECT_EQ(page.getDocument(), nullptr);
  EXPECT_EQ(page.divInnerHtml("title", 1), "");

  // An invalid handle is refused before anything else is asked.
  bridge.destroy(mute);
  view = bridge.add(shell, "view", std::string(kDoc));
  ASSERT_TRUE(page.attach(view));
  const ObjectRef held = page.getDocument();
  bridge.log.clear();
  EXPECT_FALSE(page.attach(mute));
  EXPECT_FALSE(page.attach(0));
  EXPECT_THAT(bridge.log, ElementsAre("isWindow(?)", "isWindow(-)"));
  EXPECT_EQ(page.getDocument(), held);  // the held document is kept
}

TEST_F(WebPageWindowTest, DocumentFromWindowGivenAnInvalidWindowFindsNothing) {
  const WindowHandle gone = bridge.add(0, "gone", std::string(kDoc));
  bridge.destroy(gone);
  WebPage page(bridge);
  ObjectRef target;
  EXPECT_FALSE(page.documentFromWindow(gone, target));
  EXPECT_EQ(target, nullptr);
  EXPECT_THAT(bridge.log, Not(Contains(StartsWith("document("))));
}

TEST_F(WebPageWindowTest, ApartmentIsEnteredPerObjectAndBalancedOnDestruction) {
  view = bridge.add(0, "view", std::string(kDoc));
  {
    WebPage page(bridge);
    EXPECT_EQ(bridge.entered, 1);
    ASSERT_TRUE(page.attach(view));
    {
      const WebPage copy(page);  // the application never copies, but a copy must balance
      EXPECT_EQ(bridge.entered, 2);
      const ObjectRef held = page.getDocument();
      EXPECT_EQ(copy.getDocument(), held);
      EXPECT_EQ(held.use_count(), 3);  // page, copy and `held`: one more per reference
    }
    EXPECT_EQ(bridge.left, 1);
    EXPECT_EQ(dom.liveRefs(), 1);  // the copy's reference is gone, the original's is not
    EXPECT_NE(page.getDocument(), nullptr);
  }
  EXPECT_EQ(bridge.left, 2);
  EXPECT_EQ(dom.liveRefs(), 0);
}

TEST_F(WebPageWindowTest, DocumentReferencesAreReleasedAndNotLeakedOnReattach) {
  view = bridge.add(0, "view", std::string(kDoc));
  otherView = bridge.add(0, "other", std::string(kDoc));
  WebPage page(bridge);
  ASSERT_TRUE(page.attach(view));
  ASSERT_TRUE(page.attach(otherView));
  EXPECT_EQ(dom.liveRefs(), 1);
  page.releaseDocument();
  EXPECT_EQ(dom.liveRefs(), 0);
  EXPECT_EQ(page.getDocument(), nullptr);
  EXPECT_EQ(page.divInnerHtml("title", 1), "");
  EXPECT_THAT(dom.reads, IsEmpty());  // nothing to read through an empty document
}

TEST_F(WebPageWindowTest, WithoutAPlatformBridgeEveryOperationIsEmpty) {
  PageBridge* const saved = services().page;
  services().page = nullptr;
  {
    WebPage page;
    EXPECT_FALSE(page.attach(0x1234));
    EXPECT_EQ(page.findServerWindow(0x1234), 0u);
    EXPECT_EQ(page.divInnerHtml("title", 1), "");
    const WebPage copy(page);
    EXPECT_EQ(copy.getDocument(), nullptr);
  }
  services().page = &bridge;
  {
    const WebPage page;
    EXPECT_EQ(bridge.entered, 1);
  }
  EXPECT_EQ(bridge.left, 1);
  services().page = saved;
}

}  // namespace
}  // namespace zandrel
