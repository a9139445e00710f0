// The page bridge and the IDispatch adapter against real COM objects (the
// system's JScript engine) and real windows, including the cross-thread path
// a reading thread takes: WM_HTML_GETOBJECT, ObjectFromLresult, and every
// automation call served by the thread that owns the page.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "page/automation_win32.h"
#include "page/dom_search.h"
#include "page/web_page.h"
#include "page/web_page_win32.h"
#include "win32_test_support.h"

namespace zandrel {
namespace {

using test::ComPtr;
using test::DocumentWindow;
using test::PlainWindow;
using test::ScriptEngine;

// A page shaped like the browser's document object model: document.body.all
// .tags("div") gives a collection with length and item(i).
constexpr wchar_t kPageScript[] =
    LR"js(
function div(className, innerText, id, title, innerHTML) {
  return {className: className, innerText: innerText, name: "", id: id, title: title,
          innerHTML: innerHTML};
}
var divs = [
  div("header", "科目一", "", "", "<span>head</span>"),
  div("title extra", "no", "", "", "<i>two classes</i>"),
  div("Title", "no", "", "", "<i>capital</i>"),
  div("title", "first", "", "", "<b>第一题</b>"),
  div("question", "", "title", "", "2. 驾驶机动车在道路上<b>违反</b>道路交通安全法&amp;"),
  div("title", "third", "", "", "third")
];
var collection = {length: divs.length, item: function (i) { return divs[i]; }};
var document = {body: {all: {tags: function (name) {
  return name == "div" ? collection : {length: 0, item: function (i) { return null; }};
}}}};
var values = {text: "标题", count: 3, ratio: 2.5, yes: true, nothing: null,
              child: {x: "y"}, echo: function (v) { return {arg: v}; }};
var emptyPage = {body: {all: {tags: function (n) { return {length: 0}; }}}};
// A standards-mode document: its body has no `all`, the document lists its
// DIV elements itself.
var standardsPage = {body: {}, getElementsByTagName: function (name) {
  return name == "div" ? collection : {length: 0, item: function (i) { return null; }};
}};
)js";

class ScriptPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(apartment_.ok());
    ASSERT_TRUE(script_.ok()) << script_.lastError();
    ASSERT_TRUE(script_.run(kPageScript)) << script_.lastError();
  }
  ObjectRef object(const wchar_t* name) {
    return win32::automationObject(script_.object(name).get());
  }

  test::ComApartment apartment_;
  ScriptEngine script_;
  std::unique_ptr<PageBridge> bridge_ = createWin32PageBridge();
};

TEST_F(ScriptPage, AdapterReadsTextsNumbersAndObjectsAndCallsMethods) {
  ObjectRef values = object(L"values");
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(values->getText("text"), "标题");  // UTF-16 on the COM side, UTF-8 here
  EXPECT_EQ(values->getNumber("count"), 3);
  EXPECT_EQ(values->getText("count"), "3");
  EXPECT_EQ(values->getNumber("ratio"), 2.5);
  EXPECT_EQ(values->getText("nothing"), "");
  ObjectRef child = values->getObject("child");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->getText("x"), "y");

  ObjectRef byText = values->call("echo", std::string("题目"));
  ASSERT_NE(byText, nullptr);
  EXPECT_EQ(byText->getText("arg"), "题目");
  ObjectRef byNumber = values->call("echo", 7.0);
  ASSERT_NE(byNumber, nullptr);
  EXPECT_EQ(byNumber->getNumber("arg"), 7);
}

TEST_F(ScriptPage, EveryFailureIsTheEmptyValueOfItsKind) {
  ObjectRef values = object(L"values");
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(values->getText("missing"), "");
  EXPECT_EQ(values->getNumber("missing"), 0);
  EXPECT_EQ(values->getObject("missing"), nullptr);
  EXPECT_EQ(values->getObject("text"), nullptr);  // a text is no object
  EXPECT_EQ(values->getNumber("text"), 0);        // nor a number
  EXPECT_EQ(values->getText("child"), "");        // an object is no text
  EXPECT_EQ(values->call("missing", 1.0), nullptr);
  EXPECT_EQ(values->call("text", 1.0), nullptr);  // not a method
  EXPECT_EQ(values->call("echo", 1.0)->getObject("arg"), nullptr);
  EXPECT_EQ(win32::automationObject(nullptr), nullptr);
}

TEST_F(ScriptPage, SearchOverRealDispatchObjectsSelectsTheSecondExactMatch) {
  ObjectRef document = object(L"document");
  ASSERT_NE(document, nullptr);
  // "title extra" and "Title" are no matches; the DIV with className
  // "title" is passed over; the one whose id is "title" is the question.
  std::int32_t ordinal = 0;
  ObjectRef element = dom::findDivElement(document.get(), "title", 1, ordinal);
  ASSERT_NE(element, nullptr);
  EXPECT_EQ(ordinal, 5);
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 1),
            "2. 驾驶机动车在道路上<b>违反</b>道路交通安全法&amp;");
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 0), "<b>第一题</b>");
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 3), "");
  EXPECT_EQ(dom::divInnerHtml(document.get(), "2", 5), "<i>two classes</i>");  // numeric key
  EXPECT_EQ(dom::divInnerHtml(object(L"emptyPage").get(), "title", 1), "");
}

TEST_F(ScriptPage, ADocumentWithoutAllGivesTheSameQuestion) {
  ObjectRef standards = object(L"standardsPage");
  ASSERT_NE(standards, nullptr);
  std::int32_t ordinal = 0;
  ASSERT_NE(dom::findDivElement(standards.get(), "title", 1, ordinal), nullptr);
  EXPECT_EQ(ordinal, 5);
  EXPECT_EQ(dom::divInnerHtml(standards.get(), "title", 1),
            dom::divInnerHtml(object(L"document").get(), "title", 1));
  EXPECT_EQ(dom::divInnerHtml(standards.get(), "title", 1),
            "2. 驾驶机动车在道路上<b>违反</b>道路交通安全法&amp;");
}

// The tree the browser builds (host > Shell Embedding > Shell DocObject View
// > Internet Explorer_Server) with a decoy of the same class further on.
class WindowTreeTest : public ScriptPage {
 protected:
  void SetUp() override {
    ScriptPage::SetUp();
    test::registerPlainClass(L"ZandrelTestHost");
    test::registerPlainClass(L"Shell Embedding");
    test::registerPlainClass(L"Shell DocObject View");
    test::registerPlainClass(L"Internet Explorer_ServerX");
    test::registerPlainClass(kLongClass);
    root_ = std::make_unique<PlainWindow>(L"ZandrelTestHost", nullptr);
    embedding_ = std::make_unique<PlainWindow>(L"Shell Embedding", root_->hwnd());
    view_ = std::make_unique<PlainWindow>(L"Shell DocObject View", embedding_->hwnd());
    lookalike_ = std::make_unique<PlainWindow>(L"Internet Explorer_ServerX", view_->hwnd());
    server_ = std::make_unique<DocumentWindow>(
        view_->hwnd(), test::presentAsDocument(script_.object(L"document")));
    decoy_ = std::make_unique<DocumentWindow>(root_->hwnd(), nullptr);
    longName_ = std::make_unique<PlainWindow>(kLongClass, root_->hwnd());
    // Sibling order as FindWindowEx lists it: embedding, decoy, long name;
    // lookalike before the server.
    SetWindowPos(decoy_->hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(longName_->hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(server_->hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  static WindowHandle h(HWND w) { return reinterpret_cast<WindowHandle>(w); }

  static constexpr wchar_t kLongClass[] =
      L"ZandrelClassNameLongerThanFortyNineCharacters_0123456789";
  std::unique_ptr<PlainWindow> root_, embedding_, view_, lookalike_, longName_;
  std::unique_ptr<DocumentWindow> server_, decoy_;
};

TEST_F(WindowTreeTest, BridgeListsDirectChildrenAndCutsClassNames) {
  EXPECT_EQ(bridge_->nextChild(h(root_->hwnd()), 0), h(embedding_->hwnd()));
  EXPECT_EQ(bridge_->nextChild(h(root_->hwnd()), h(embedding_->hwnd())), h(decoy_->hwnd()));
  EXPECT_EQ(bridge_->nextChild(h(root_->hwnd()), h(longName_->hwnd())), 0u);
  EXPECT_EQ(bridge_->nextChild(0, 0), 0u);
  EXPECT_EQ(bridge_->className(h(view_->hwnd())), "Shell DocObject View");
  EXPECT_EQ(bridge_->className(h(longName_->hwnd())),
            "ZandrelClassNameLongerThanFortyNineCharacters_012");  // 49 characters
  EXPECT_TRUE(bridge_->isWindow(h(root_->hwnd())));
  EXPECT_FALSE(bridge_->isWindow(0));
}

TEST_F(WindowTreeTest, FindsTheDeepDocumentWindowBeforeALaterSibling) {
  WebPage page(*bridge_);
  EXPECT_EQ(page.findServerWindow(h(root_->hwnd())), h(server_->hwnd()));
  EXPECT_EQ(page.findServerWindow(h(lookalike_->hwnd())), 0u);
}

TEST_F(WindowTreeTest, AttachOnTheOwningThreadReadsTheQuestion) {
  WebPage page(*bridge_);
  EXPECT_TRUE(page.attach(h(root_->hwnd())));
  EXPECT_EQ(server_->requests(), 1);
  EXPECT_EQ(decoy_->requests(), 0);
  EXPECT_EQ(page.divInnerHtml("title", 1), "2. 驾驶机动车在道路上<b>违反</b>道路交通安全法&amp;");
}

TEST_F(WindowTreeTest, AttachFromAReadingThreadGoesThroughTheOwnersMessageLoop) {
  std::atomic<bool> done{false};
  bool attached = false;
  std::string text;
  std::thread reader([&] {
    {
      WebPage page(*bridge_);  // its own apartment on this thread
      attached = page.attach(h(root_->hwnd()));
      text = page.divInnerHtml("title", 1);
    }
    done = true;
  });
  // Every call the reader makes is served here, while this thread dispatches.
  const bool finished = test::pumpUntil([&] { return done.load(); }, 20000);
  reader.join();
  ASSERT_TRUE(finished);
  EXPECT_TRUE(attached);
  EXPECT_EQ(text, "2. 驾驶机动车在道路上<b>违反</b>道路交通安全法&amp;");
}

TEST_F(WindowTreeTest, NoDocumentWindowOrNoDocumentGivesTheEmptyText) {
  WindowHandle gone = 0;
  {
    PlainWindow closed(L"ZandrelTestHost", nullptr);
    gone = h(closed.hwnd());
  }
  WebPage page(*bridge_);
  EXPECT_FALSE(page.attach(gone));                   // no such window any more
  EXPECT_FALSE(page.attach(h(lookalike_->hwnd())));  // nothing below it
  EXPECT_FALSE(page.attach(h(decoy_->hwnd())));      // the window answers 0
  EXPECT_EQ(decoy_->requests(), 1);
  EXPECT_EQ(page.divInnerHtml("title", 1), "");
}

TEST(PageBridge, ABusyDocumentWindowIsGivenUpAfterTheTimeout) {
  std::unique_ptr<PageBridge> bridge = createWin32PageBridge();
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> release{false};
  std::thread busy([&] {
    DocumentWindow server(nullptr, nullptr);
    window = server.hwnd();
    while (!release) Sleep(10);  // owns the window, dispatches nothing
  });
  while (!window) Sleep(1);
  const auto start = std::chrono::steady_clock::now();
  ObjectRef document =
      bridge->documentFromWindow(reinterpret_cast<WindowHandle>(window.load()), 1000);
  const auto waited = std::chrono::steady_clock::now() - start;
  release = true;
  busy.join();
  EXPECT_EQ(document, nullptr);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
}

TEST(PageBridge, LeavingAnApartmentOnlyUndoesWhatEnteringDid) {
  std::unique_ptr<PageBridge> bridge = createWin32PageBridge();
  HRESULT afterLeave = E_FAIL;
  std::thread mta([&] {
    // A thread already in the multithreaded apartment: entering cannot make
    // it single-threaded, and leaving must not end its COM.
    const HRESULT own = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bridge->enterApartment();
    bridge->leaveApartment();
    afterLeave = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(afterLeave)) CoUninitialize();
    if (SUCCEEDED(own)) CoUninitialize();
  });
  mta.join();
  EXPECT_EQ(afterLeave, S_FALSE);  // still initialised by the thread itself

  HRESULT reentered = E_FAIL;
  std::thread plain([&] {
    bridge->enterApartment();
    bridge->enterApartment();
    bridge->leaveApartment();
    bridge->leaveApartment();
    reentered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_OK: fully balanced
    if (SUCCEEDED(reentered)) CoUninitialize();
  });
  plain.join();
  EXPECT_EQ(reentered, S_OK);
}

}  // namespace
}  // namespace zandrel
