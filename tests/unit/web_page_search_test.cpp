// The DIV search: which element the key selects, in which order the page is
// read, how failures turn into empty values, and that no reference leaks.

#include <limits>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_page.h"
#include "page/dom_search.h"
#include "page/web_page.h"
#include "runtime/spoken_text.h"
#include "runtime/text_units.h"

namespace zandrel {
namespace {

using ::testing::ElementsAre;
using testing::FakeDom;
using testing::FakeNode;
using testing::FakePageBridge;

using Divs = std::vector<std::shared_ptr<FakeNode>>;

class WebPageSearchTest : public ::testing::Test {
 protected:
  // A page object attached to a document with these DIV elements.
  WebPage& pageWith(Divs divs) {
    document = dom.document(std::move(divs));
    return attached();
  }
  WebPage& attached() {
    const WindowHandle view = bridge.add(0, "view", std::string(FakePageBridge::kDocumentClass));
    bridge.answer = [this](WindowHandle) { return dom.ref(document); };
    EXPECT_TRUE(page.attach(view));
    return page;
  }
  // The node `path` leads to from the document, e.g. {"body", "all"}.
  std::shared_ptr<FakeNode> at(std::initializer_list<const char*> path) {
    std::shared_ptr<FakeNode> node = document;
    for (const char* name : path)
      node = std::get<std::shared_ptr<FakeNode>>(node->properties[name]);
    return node;
  }
  std::string select(std::string_view key, int skip, int& ordinal) {
    const ObjectRef element = page.findDivElement(key, skip, ordinal);
    return element != nullptr ? element->getText("innerHTML") : "(none)";
  }

  FakeDom dom;
  FakePageBridge bridge;
  WebPage page{bridge};
  std::shared_ptr<FakeNode> document;
};

TEST_F(WebPageSearchTest, TheQuestionIsTheSecondDivNamedTitle) {
  pageWith({dom.div("menu", "nav"), dom.div("first", "title"), dom.div("other", "answer"),
            dom.div("question", "title"), dom.div("third", "title")});
  EXPECT_EQ(page.divInnerHtml("title", 1), "<b>question</b>");
  EXPECT_EQ(page.divInnerHtml("title", 0), "<b>first</b>");
  EXPECT_EQ(page.divInnerHtml("title", 2), "<b>third</b>");
  EXPECT_EQ(page.divInnerHtml("title", 3), "");
}

TEST_F(WebPageSearchTest, OnlyOneOrNoMatchGivesTheEmptyText) {
  pageWith({dom.div("a", "title"), dom.div("b", "answer")});
  int ordinal = 0;
  EXPECT_EQ(select("title", 1, ordinal), "(none)");
  EXPECT_EQ(ordinal, -1);
  EXPECT_EQ(page.divInnerHtml("title", 1), "");
  EXPECT_EQ(page.divInnerHtml("nothing", 0), "");
}

TEST_F(WebPageSearchTest, AnyOfTheFivePropertiesCounts) {
  const char* const properties[] = {"className", "innerText", "name", "id", "title"};
  for (const char* property : properties) {
    SCOPED_TRACE(property);
    auto skipped = dom.div("skipped");
    auto chosen = dom.div("chosen");
    skipped->properties[property] = "title";
    chosen->properties[property] = "title";
    dom.reads.clear();
    document = dom.document({dom.div("plain", "x", "x", "x", "x", "x"), skipped, chosen});
    WebPage fresh(bridge);
    bridge.answer = [this](WindowHandle) { return dom.ref(document); };
    ASSERT_TRUE(fresh.attach(bridge.add(0, "v", std::string(FakePageBridge::kDocumentClass))));
    EXPECT_EQ(fresh.divInnerHtml("title", 1), "<b>chosen</b>");
  }
}

TEST_F(WebPageSearchTest, MatchingIsExactByteForByte) {
  pageWith({dom.div("list", "title big"), dom.div("capital", "Title"), dom.div("spaced", " title"),
            dom.div("inner", "", "title\n"), dom.div("wide", "ｔｉｔｌｅ"),
            dom.div("real", "title"), dom.div("cjk", "", "", "", "", "题目"),
            dom.div("cjk2", "", "", "题目")});
  EXPECT_EQ(page.divInnerHtml("title", 0), "<b>real</b>");
  EXPECT_EQ(page.divInnerHtml("title", 1), "");
  EXPECT_EQ(page.divInnerHtml("Title", 0), "<b>capital</b>");
  EXPECT_EQ(page.divInnerHtml("题目", 1), "<b>cjk2</b>");
}

TEST_F(WebPageSearchTest, PropertiesAreReadInOrderUntilTheFirstMatch) {
  pageWith({dom.div("none", "a", "b", "c", "d", "e"), dom.div("byClass", "title", "title"),
            dom.div("byId", "x", "", "", "title"), dom.div("after")});
  dom.reads.clear();
  EXPECT_EQ(page.divInnerHtml("title", 1), "<b>byId</b>");
  EXPECT_THAT(
      dom.readNames(),
      ElementsAre("doc.body", "body.all", "all.tags(\"div\")", "divs.length", "divs.item(0)",
                  "none.className", "none.innerText", "none.name", "none.id", "none.title",  //
                  "divs.item(1)", "byClass.className",  // skipped at its first match
                  "divs.item(2)", "byId.className", "byId.innerText", "byId.name",
                  "byId.id",  // selected: nothing more read
                  "byId.innerHTML"));
}

TEST_F(WebPageSearchTest, NumericKeyPicksTheKthDivUnlessThePropertyRuleDecides) {
  pageWith({dom.div("d1", "a"), dom.div("d2", "b"), dom.div("d3", "c"), dom.div("d4", "d")});
  int ordinal = 0;
  EXPECT_EQ(select("3", 0, ordinal), "<b>d3</b>");
  EXPECT_EQ(ordinal, 3);
  ordinal = 0;
  EXPECT_EQ(select("3.9 questions", 0, ordinal), "<b>d3</b>");
  ordinal = 0;
  EXPECT_EQ(select("9", 0, ordinal), "(none)");
  EXPECT_EQ(ordinal, -1);
  ordinal = 1;  // the ordinal is the caller's: counting goes on from where it stands
  EXPECT_EQ(select("3", 0, ordinal), "<b>d2</b>");

  // An earlier element equal to the key wins over the third one.
  pageWith({dom.div("d1"), dom.div("d2", "", "3"), dom.div("d3"), dom.div("d4")});
  ordinal = 0;
  EXPECT_EQ(select("3", 0, ordinal), "<b>d2</b>");
  EXPECT_EQ(ordinal, 2);
  // Skipped past it, the numeric rule still picks the third.
  ordinal = 0;
  EXPECT_EQ(select("3", 1, ordinal), "<b>d3</b>");

  // The k-th element equal to the key: only the property rule and skip apply.
  pageWith({dom.div("d1"), dom.div("d2"), dom.div("d3", "", "", "", "3"), dom.div("d4"),
            dom.div("d5", "3")});
  ordinal = 0;
  EXPECT_EQ(select("3", 1, ordinal), "<b>d5</b>");
  EXPECT_EQ(ordinal, 5);
  ordinal = 0;
  EXPECT_EQ(select("3", 2, ordinal), "(none)");
}

TEST_F(WebPageSearchTest, OrdinalWrapsInsteadOfOverflowing) {
  pageWith({dom.div("d1", "a"), dom.div("d2", "b")});
  int ordinal = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(select(std::to_string(std::numeric_limits<std::int32_t>::min()), 0, ordinal),
            "<b>d1</b>");
}

TEST_F(WebPageSearchTest, KeyNumberReadsADecimalNumberAtTheStart) {
  EXPECT_EQ(dom::keyNumber(""), 0);
  EXPECT_EQ(dom::keyNumber("title"), 0);
  EXPECT_EQ(dom::keyNumber("3"), 3);
  EXPECT_EQ(dom::keyNumber("3.99"), 3);
  EXPECT_EQ(dom::keyNumber("-3.99"), -3);
  EXPECT_EQ(dom::keyNumber("+4x"), 4);
  EXPECT_EQ(dom::keyNumber(" \t7 apples"), 7);
  EXPECT_EQ(dom::keyNumber("1e2"), 100);
  EXPECT_EQ(dom::keyNumber("2.5E1"), 25);
  EXPECT_EQ(dom::keyNumber("12."), 12);
  EXPECT_EQ(dom::keyNumber(".5"), 0);
  EXPECT_EQ(dom::keyNumber("0x10"), 0);
  EXPECT_EQ(dom::keyNumber("inf"), 0);
  EXPECT_EQ(dom::keyNumber("nan"), 0);
  EXPECT_EQ(dom::keyNumber("-"), 0);
  EXPECT_EQ(dom::keyNumber("1e-400"), 0);
  EXPECT_EQ(dom::keyNumber("99999999999999999999999"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(dom::keyNumber("-1e400"), std::numeric_limits<std::int64_t>::min());
}

TEST_F(WebPageSearchTest, EmptyKeyMatchesEmptyOrUnreadableProperties) {
  auto unreadable = dom.node("unreadable", {{"className", "x"}, {"id", "y"}});  // no innerText
  unreadable->properties["innerHTML"] = "<b>unreadable</b>";
  pageWith({dom.div("full", "a", "b", "c", "d", "e"), unreadable, dom.div("empty")});
  int ordinal = 0;
  EXPECT_EQ(select("", 0, ordinal), "<b>unreadable</b>");
  EXPECT_EQ(ordinal, 2);
  EXPECT_EQ(page.divInnerHtml("", 1), "<b>empty</b>");
  EXPECT_EQ(page.divInnerHtml("", 2), "");
}

TEST_F(WebPageSearchTest, BrokenDocumentsGiveTheEmptyText) {
  const Divs divs = {dom.div("a", "title"), dom.div("b", "title")};
  auto check = [&](const char* what, std::vector<std::string> expectedReads) {
    SCOPED_TRACE(what);
    dom.reads.clear();
    int ordinal = 7;
    EXPECT_EQ(select("title", 1, ordinal), "(none)");
    EXPECT_EQ(ordinal, -1);
    EXPECT_EQ(dom.readNames(), expectedReads);
    EXPECT_EQ(dom.liveRefs(), 1);
  };
  const std::string byTag = "doc.getElementsByTagName(\"div\")";
  pageWith(divs);
  at({"body", "all"})->methods.clear();
  check("tags fails", {"doc.body", "body.all", "all.tags(\"div\")", byTag});
  at({"body"})->properties.erase("all");
  check("no all", {"doc.body", "body.all", byTag});
  document->properties.erase("body");
  check("no body", {"doc.body", byTag});

  pageWith(divs);
  at({"body", "all"})->methods["tags"] = [&](const auto&) -> testing::FakeValue {
    return dom.node("divs", {{"length", "two"}});
  };
  check("length unreadable", {"doc.body", "body.all", "all.tags(\"div\")", "divs.length"});
  for (const double length : {-3.0, std::numeric_limits<double>::quiet_NaN(), 0.99}) {
    at({"body", "all"})->methods["tags"] = [&dom = dom, length](const auto&) -> testing::FakeValue {
      return dom.node("divs", {{"length", length}});
    };
    check("length not a count", {"doc.body", "body.all", "all.tags(\"div\")", "divs.length"});
  }
}

TEST_F(WebPageSearchTest, ADocumentWhoseElementsHaveNoAllListsItsDivsItself) {
  const Divs divs = {dom.div("a", "title"), dom.div("b", "answer"), dom.div("c", "title")};
  pageWith(divs);
  // The same elements, from the document instead of from body.all.
  document->methods["getElementsByTagName"] = [collection = at({"body", "all"})->methods["tags"]](
                                                  const auto& tag) { return collection(tag); };
  at({"body"})->properties.erase("all");
  dom.reads.clear();
  int ordinal = 0;
  EXPECT_EQ(select("title", 1, ordinal), "<b>c</b>");
  EXPECT_EQ(ordinal, 3);
  EXPECT_THAT(dom.readNames(),
              ::testing::Contains(std::string("doc.getElementsByTagName(\"div\")")));
  EXPECT_EQ(dom.liveRefs(), 1);
  // Where body.all works, the document is not asked.
  pageWith(divs);
  document->methods["getElementsByTagName"] = [](const auto&) -> testing::FakeValue { return {}; };
  dom.reads.clear();
  EXPECT_EQ(page.divInnerHtml("title", 1), "<b>c</b>");
  EXPECT_THAT(
      dom.readNames(),
      ::testing::Not(::testing::Contains(std::string("doc.getElementsByTagName(\"div\")"))));
}

TEST_F(WebPageSearchTest, AFailingItemIsAnEmptyElementAndTheSearchGoesOn) {
  auto collection = dom.node("divs", {{"length", 4.0}});
  const Divs divs = {dom.div("a", "title"), nullptr, dom.div("c", "title"), dom.div("d", "title")};
  collection->methods["item"] = [divs](const auto& argument) -> testing::FakeValue {
    return divs[static_cast<std::size_t>(std::get<double>(argument))];
  };
  pageWith({});
  at({"body", "all"})->methods["tags"] = [collection](const auto&) -> testing::FakeValue {
    return collection;
  };
  EXPECT_EQ(page.divInnerHtml("title", 1), "<b>c</b>");
  // Fractional lengths are cut: 2.7 elements are 2.
  collection->properties["length"] = 2.7;
  EXPECT_EQ(page.divInnerHtml("title", 1), "");
  int ordinal = 0;
  EXPECT_EQ(select("2", 0, ordinal), "(none)");  // the 2nd element is the empty one
  EXPECT_EQ(ordinal, 2);
}

TEST_F(WebPageSearchTest, IntermediateReferencesGoAsSoonAsTheNextIsObtained) {
  pageWith({dom.div("a"), dom.div("b", "title"), dom.div("c", "title")});
  dom.reads.clear();
  {
    int ordinal = 0;
    const ObjectRef found = page.findDivElement("title", 1, ordinal);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(dom.liveRefs(), 2);  // the document and the result, nothing else
  }
  EXPECT_EQ(dom.liveRefs(), 1);
  // The document is always held; besides it, body then all (not both), then the
  // collection with at most one element.
  EXPECT_EQ(dom.readsOf("body").front().liveRefs, 1);
  EXPECT_EQ(dom.readsOf("all").front().liveRefs, 2);
  EXPECT_EQ(dom.readsOf("tags(\"div\")").front().liveRefs, 2);
  EXPECT_EQ(dom.readsOf("length").front().liveRefs, 2);
  for (const auto& read : dom.readsOf("item(1)")) EXPECT_EQ(read.liveRefs, 2);
  for (const auto& read : dom.readsOf("item(2)")) EXPECT_EQ(read.liveRefs, 2);
  for (const auto& read : dom.readsOf("className")) EXPECT_EQ(read.liveRefs, 3);

  EXPECT_EQ(page.divInnerHtml("title", 1), "<b>c</b>");
  EXPECT_EQ(page.divInnerHtml("none", 0), "");
  EXPECT_EQ(dom.liveRefs(), 1);
  page.releaseDocument();
  EXPECT_EQ(dom.liveRefs(), 0);
}

// What the program's diagnostic line is made of: how far the search went,
// which element it chose and why, or why it chose none.
TEST_F(WebPageSearchTest, TheTraceSaysWhatTheSearchSawAndWhyItFoundNothing) {
  using Trace = dom::SearchTrace;
  auto traced = [&](std::string_view key, int skip) {
    Trace trace;
    const std::string text = page.divInnerHtml(key, skip, &trace);
    return std::tuple(text, trace.visited, trace.match,
                      trace.cause == Trace::kFound ? dom::kMatchedBy.at(trace.by) : "-",
                      static_cast<int>(trace.cause));
  };
  auto blank = dom.div("blank", "title");
  blank->properties["innerHTML"] = "";
  pageWith({dom.div("menu", "nav"), dom.div("first", "title"), dom.div("other", "answer"),
            dom.div("question", "x", "", "", "title"), blank});
  EXPECT_EQ(traced("title", 1), std::tuple("<b>question</b>", 4, 4, "id", Trace::kFound));
  EXPECT_EQ(traced("3", 0), std::tuple("<b>other</b>", 3, 3, "ordinal", Trace::kFound));
  EXPECT_EQ(traced("title", 2), std::tuple("", 5, 5, "-", Trace::kEmptyDiv));
  EXPECT_EQ(traced("title", 3), std::tuple("", 5, 0, "-", Trace::kNoMatchingDiv));
  page.releaseDocument();
  EXPECT_EQ(traced("title", 1), std::tuple("", 0, 0, "-", Trace::kNoDocument));
}

TEST_F(WebPageSearchTest, ADocumentThatSearchesItselfAnswersInOneStep) {
  pageWith({dom.div("a", "title"), dom.div("b", "title")});
  std::vector<std::pair<std::string, int>> asked;
  document->fastDivInnerHtml = [&](std::string_view key, int skip) -> std::optional<std::string> {
    asked.emplace_back(key, skip);
    return "<p>remote</p>";
  };
  dom.reads.clear();
  EXPECT_EQ(page.divInnerHtml("title", 1), "<p>remote</p>");
  EXPECT_THAT(dom.readNames(), ElementsAre("doc.divInnerHtml"));
  EXPECT_THAT(asked, ElementsAre(std::pair<std::string, int>("title", 1)));

  // An answer of nothing found is final too: it is not searched again.
  document->fastDivInnerHtml = [](std::string_view, int) { return std::string(); };
  dom.reads.clear();
  EXPECT_EQ(page.divInnerHtml("title", 1), "");
  EXPECT_EQ(dom.reads.size(), 1u);

  // Not offered: the same search runs here.
  document->fastDivInnerHtml = [](std::string_view, int) { return std::nullopt; };
  EXPECT_EQ(page.divInnerHtml("title", 1), "<b>b</b>");
  EXPECT_EQ(dom::divInnerHtml(nullptr, "title", 1), "");
}

// What crosses from the page is bounded: no more markup than gives the
// spoken text, and never more than kMaxMarkupBytes, yet a full spoken-length
// question in heavy markup, or after a megabyte of empty elements, arrives.
TEST_F(WebPageSearchTest, AHugeQuestionIsCutWhereItsSpokenTextIsFull) {
  auto question = dom.div("question", "title");
  pageWith({dom.div("heading", "title"), question});
  std::string heavy;
  for (std::size_t i = 0; i < kMaxSpokenCharacters + 5000; ++i)
    heavy += "<span class=\"option-text\" style=\"color:#333\">题</span>";
  question->properties["innerHTML"] = heavy;
  const std::string read = page.divInnerHtml("title", 1);
  EXPECT_LT(read.size(), heavy.size() * 3 / 4);
  EXPECT_EQ(read, heavy.substr(0, read.size()));
  EXPECT_EQ(spokenTextFromMarkup(read), spokenTextFromMarkup(heavy));
  EXPECT_EQ(spokenTextFromMarkup(read).size(),
            kMaxSpokenCharacters * std::string_view("题").size());

  // 80,000 empty scripts (1.4 MB) before the question: it still arrives.
  std::string scripts;
  for (int i = 0; i < 80000; ++i) scripts += "<script></script>";
  question->properties["innerHTML"] = scripts + "遇到雾天应当开启雾灯。";
  EXPECT_EQ(spokenTextFromMarkup(page.divInnerHtml("title", 1)), "遇到雾天应当开启雾灯。");

  // Markup that says nothing over more than the cap: cut at the cap, before
  // the sequence and the tag the cap falls in.
  std::string empty = "<b>" + std::string(dom::kMaxMarkupBytes - 4, ' ') + "题<i>";
  empty += std::string(dom::kMaxMarkupBytes, ' ');
  question->properties["innerHTML"] = empty;
  const std::string capped = page.divInnerHtml("title", 1);
  EXPECT_EQ(capped, empty.substr(0, dom::kMaxMarkupBytes - 1));
  EXPECT_TRUE(isValidUtf8(capped));

  // The answer of a one-step search next to the page is held to the same bound.
  auto fast = dom.node("fast");
  fast->fastDivInnerHtml = [&heavy](std::string_view, int) { return heavy; };
  bridge.answer = [&](WindowHandle) { return dom.ref(fast); };
  WebPage other{bridge};
  ASSERT_TRUE(other.attach(bridge.add(0, "view2", std::string(FakePageBridge::kDocumentClass))));
  EXPECT_EQ(other.divInnerHtml("title", 1), read);
}

TEST(BoundedMarkup, NeverLeavesASequenceTagOrEntityOpen) {
  EXPECT_EQ(dom::boundedMarkup("短的题目", 100), "短的题目");
  EXPECT_EQ(dom::boundedMarkup("ab题", 4), "ab");  // 题 is 3 bytes: not cut inside
  EXPECT_EQ(dom::boundedMarkup("ab题c", 5), "ab题");
  EXPECT_EQ(dom::boundedMarkup("\xF0\x9F\x98\x80x", 3), "");
  // A cut inside a tag would be read aloud as text: the open tag goes.
  EXPECT_EQ(dom::boundedMarkup("题<b>干</b><img alt=\"图\" src=\"x\">", 20), "题<b>干</b>");
  EXPECT_EQ(dom::boundedMarkup("题<b>干</b>&nbsp;x", 16), "题<b>干</b>");
  // An '&' far back is text, not an open entity.
  const std::string text = "A&B " + std::string(40, 'z');
  EXPECT_EQ(dom::boundedMarkup(text, 44), text.substr(0, 44));
  EXPECT_EQ(dom::boundedMarkup(text + "<br>", text.size() + 2), text);
  // Past the spoken limit nothing more is needed, within the cap or not.
  const std::string full(kMaxSpokenCharacters, 'x');
  const std::string longer = full + "<b>more</b>";
  const std::string_view kept = dom::boundedMarkup(longer);
  EXPECT_EQ(kept.substr(0, full.size()), full);
  EXPECT_EQ(kept.find("more"), std::string_view::npos);
}

}  // namespace
}  // namespace zandrel
