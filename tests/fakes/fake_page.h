#pragma once
// A scripted window tree and document object model for the page object: each
// window and DOM node is set up by hand, every question the page object asks is
// logged, and references to DOM objects are counted so leaks show.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "page/page_bridge.h"

namespace zandrel::testing {

struct FakeNode;
using FakeValue = std::variant<std::monostate, std::string, double, std::shared_ptr<FakeNode>>;
using FakeMethod = std::function<FakeValue(const AutomationObject::Argument&)>;

// One object of the fake page. A property that is missing or holds nothing
// reads as the empty value of the kind asked for, as a failing call does.
struct FakeNode {
  std::string label;  // names the node in the read log
  std::map<std::string, FakeValue, std::less<>> properties;
  std::map<std::string, FakeMethod, std::less<>> methods;
  // Offered by a document that answers the DIV search in one step.
  std::function<std::optional<std::string>(std::string_view key, int skip)> fastDivInnerHtml;
  // What that one-step search tells its trace (dom::SearchTrace::Cause); -1 leaves it.
  int fastCause = -1;
};

class FakeDom {
 public:
  struct Read {
    std::string what;  // "label.property" or "label.method(argument)"
    int liveRefs;      // references alive while it was asked
  };

  std::shared_ptr<FakeNode> node(std::string label,
                                 std::map<std::string, FakeValue, std::less<>> properties = {});
  // A DIV element: className, innerText, name, id and title, the rest empty.
  std::shared_ptr<FakeNode> div(std::string label, std::string className = {},
                                std::string innerText = {}, std::string name = {},
                                std::string id = {}, std::string title = {});
  // A document whose body.all.tags("div") is a collection of these elements.
  // The returned document's "body", the body's "all" and the collection are
  // reachable for tests that break them.
  std::shared_ptr<FakeNode> document(std::vector<std::shared_ptr<FakeNode>> divs);

  // A new counted reference to the node (an empty reference for none).
  ObjectRef ref(std::shared_ptr<FakeNode> node);

  int liveRefs() const { return live_; }
  // The reads, without the live counts.
  std::vector<std::string> readNames() const;
  // The reads of one property or method, as "label.what".
  std::vector<Read> readsOf(std::string_view suffix) const;

  std::vector<Read> reads;

 private:
  class Ref;
  int live_ = 0;
};

// A window tree of named fake windows, with the page-object bridge on top.
class FakePageBridge : public PageBridge {
 public:
  // A new window under `parent` (0: a top-level window); never 0. `handle`
  // names a window another fake made (the window layer's browser control).
  WindowHandle add(WindowHandle parent, std::string name, std::string className,
                   WindowHandle handle = 0);
  // The window and its subtree stop existing; their handles turn stale.
  void destroy(WindowHandle window);

  bool isWindow(WindowHandle window) override;
  WindowHandle nextChild(WindowHandle parent, WindowHandle after) override;
  std::string className(WindowHandle window) override;
  void processWaitingMessages() override;
  std::string_view documentWindowClass() const override { return kDocumentClass; }
  void enterApartment() override { ++entered; }
  void leaveApartment() override { ++left; }
  ObjectRef documentFromWindow(WindowHandle documentWindow, int timeoutMs) override;

  static constexpr std::string_view kDocumentClass = "Internet Explorer_Server";

  // What the search asked, in order: "next(parent,after)", "class(w)", "pump",
  // "document(w,timeout)"; windows by name, "-" for none, "?" for stale.
  std::vector<std::string> log;
  // Runs in every processWaitingMessages, as a message handler would.
  std::function<void()> onPump;
  // The document a document window hands over; nullptr when it does not.
  std::function<ObjectRef(WindowHandle)> answer;
  int entered = 0;
  int left = 0;

 private:
  struct Window {
    std::string name;
    std::string className;
    WindowHandle parent = 0;
    std::vector<WindowHandle> children;
  };
  std::string nameOf(WindowHandle window) const;

  std::map<WindowHandle, Window> windows_;
  WindowHandle nextHandle_ = 0x1000;
};

}  // namespace zandrel::testing
