// The automation object over JavaScriptCore values, on a plain JSC context
// (no display, no engine): conversions, exceptions, the deadline, and the DIV
// search running over it.

#include <gtest/gtest.h>

#include <thread>

#include "page/dom_search.h"
#include "page/jsc_object_gtk.h"

namespace zandrel {
namespace {

class JscObjectTest : public ::testing::Test {
 protected:
  JscObjectTest() { JSGlobalContextRelease(context); }  // the scope holds it

  ObjectRef evaluate(const char* script) {
    JSStringRef source = JSStringCreateWithUTF8CString(script);
    JSValueRef value = JSEvaluateScript(scope->context(), source, nullptr, nullptr, 1, nullptr);
    JSStringRelease(source);
    return JscObject::wrap(scope, value);
  }
  void expireIn(int ms) {
    scope = std::make_shared<JscScope>(
        context, ReadDeadline(ReadDeadline::Clock::now() + std::chrono::milliseconds(ms)));
  }

  JSGlobalContextRef context = JSGlobalContextCreate(nullptr);
  std::shared_ptr<JscScope> scope = std::make_shared<JscScope>(
      context, ReadDeadline(ReadDeadline::Clock::now() + std::chrono::hours(1)));
};

constexpr char kValues[] = R"JS(({
  text: 'text', cjk: '题目', zero: 'a\u0000b', number: 3.75, whole: 12, yes: true,
  nothing: null, missing: undefined, object: { toString() { throw new Error('ran'); } },
  numeric: '42', lone: 'a\uD800\uD83D\uDE00', get boom() { throw new Error('boom'); },
  method(x) { return { got: typeof x === 'number' ? 'number ' + x : 'text ' + x }; },
  plain(x) { return 7; }, throws() { throw new Error('no'); }, notCallable: 5,
}))JS";

TEST_F(JscObjectTest, ValuesConvertAndFailuresAreEmpty) {
  const ObjectRef values = evaluate(kValues);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(values->getText("text"), "text");
  EXPECT_EQ(values->getText("cjk"), "题目");
  EXPECT_EQ(values->getText("zero"), std::string("a\0b", 3));
  EXPECT_EQ(values->getText("number"), "3.75");
  EXPECT_EQ(values->getText("yes"), "true");
  EXPECT_EQ(values->getText("nothing"), "");
  EXPECT_EQ(values->getText("missing"), "");
  EXPECT_EQ(values->getText("absent"), "");
  EXPECT_EQ(values->getText("object"), "");  // no script runs to make it text
  EXPECT_EQ(values->getText("boom"), "");
  EXPECT_EQ(values->getText("lone"), "a\xEF\xBF\xBD\xF0\x9F\x98\x80");

  EXPECT_EQ(values->getNumber("number"), 3.75);
  EXPECT_EQ(values->getNumber("numeric"), 42);
  EXPECT_EQ(values->getNumber("text"), 0);  // NaN is no number
  EXPECT_EQ(values->getNumber("object"), 0);
  EXPECT_EQ(values->getNumber("boom"), 0);

  EXPECT_EQ(values->getObject("text"), nullptr);
  EXPECT_EQ(values->getObject("nothing"), nullptr);
  EXPECT_EQ(values->getObject("boom"), nullptr);
  ASSERT_NE(values->getObject("object"), nullptr);

  const ObjectRef byText = values->call("method", std::string("div"));
  ASSERT_NE(byText, nullptr);
  EXPECT_EQ(byText->getText("got"), "text div");
  EXPECT_EQ(values->call("method", 2.0)->getText("got"), "number 2");
  EXPECT_EQ(values->call("plain", 1.0), nullptr);
  EXPECT_EQ(values->call("throws", 1.0), nullptr);
  EXPECT_EQ(values->call("notCallable", 1.0), nullptr);
  EXPECT_EQ(values->call("absent", 1.0), nullptr);
  EXPECT_EQ(evaluate("'not an object'"), nullptr);
}

// A page-like structure whose collection reads the way the engine's does.
constexpr char kPage[] = R"JS((function () {
  function div(props, html) { return Object.assign({ innerHTML: html }, props); }
  const divs = [div({ className: 'title' }, 'first'), div({ className: 'x', id: 'title' }, 'second'),
                div({ title: 'title' }, '<b>third</b>'), div({}, 'fourth')];
  const collection = { get length() { return divs.length; },
                       item(i) { return divs[i] === undefined ? null : divs[i]; } };
  return { body: { all: { tags(name) { return name === 'div' ? collection : null; } } } };
})())JS";

TEST_F(JscObjectTest, TheDivSearchRunsOverIt) {
  const ObjectRef document = evaluate(kPage);
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 0), "first");
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 1), "second");
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 2), "<b>third</b>");
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 3), "");
  EXPECT_EQ(dom::divInnerHtml(document.get(), "4", 0), "fourth");

  const ObjectRef broken = evaluate("({ body: { get all() { throw new Error('x'); } } })");
  EXPECT_EQ(dom::divInnerHtml(broken.get(), "title", 0), "");
}

TEST_F(JscObjectTest, PastTheDeadlineEveryReadIsEmptyAtOnce) {
  expireIn(30);
  const ObjectRef document = evaluate(kPage);
  const ObjectRef values = evaluate(kValues);
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 1), "second");
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_TRUE(scope->deadline().passed());
  EXPECT_EQ(dom::divInnerHtml(document.get(), "title", 1), "");
  EXPECT_EQ(values->getText("text"), "");
  EXPECT_EQ(values->getNumber("number"), 0);
  EXPECT_EQ(values->call("method", 1.0), nullptr);
}

}  // namespace
}  // namespace zandrel
