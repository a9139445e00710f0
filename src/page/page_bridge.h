#pragma once
// What the page object needs of the platform: a window tree to search for the
// engine's document window, and late-bound automation on page objects.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "runtime/window_layer.h"

namespace zandrel {

namespace dom {
struct SearchTrace;
}

// A page object reached by late binding (a document, a collection, an element).
// Every failure yields the empty value of the kind asked for.
class AutomationObject {
 public:
  using Argument = std::variant<std::string, double>;
  virtual ~AutomationObject() = default;
  virtual std::string getText(std::string_view name) = 0;
  virtual double getNumber(std::string_view name) = 0;
  virtual std::shared_ptr<AutomationObject> getObject(std::string_view name) = 0;
  virtual std::shared_ptr<AutomationObject> call(std::string_view method,
                                                 const Argument& argument) = 0;
  // A document may answer a whole DIV search in one step (the search then runs
  // next to the page instead of one round trip per read), telling the trace
  // what it saw. nullopt: not offered.
  virtual std::optional<std::string> divInnerHtml(std::string_view /*key*/, int /*skip*/,
                                                  dom::SearchTrace& /*trace*/) {
    return std::nullopt;
  }
};

using ObjectRef = std::shared_ptr<AutomationObject>;

class WindowTree {
 public:
  virtual ~WindowTree() = default;
  virtual bool isWindow(WindowHandle window) = 0;
  // The parent's next direct child after `after` (0: the first), 0 after the last.
  virtual WindowHandle nextChild(WindowHandle parent, WindowHandle after) = 0;
  // At most 49 characters, as the classic 50-byte buffer gives.
  virtual std::string className(WindowHandle window) = 0;
  // Dispatches the calling thread's waiting messages; a pending quit stays.
  virtual void processWaitingMessages() = 0;
};

class PageBridge : public WindowTree {
 public:
  // The class name of the engine's document window on this platform.
  virtual std::string_view documentWindowClass() const = 0;
  // Per-thread initialisation that a page object holds for its life (COM on
  // Windows). Balanced by leaveApartment on the same thread.
  virtual void enterApartment() = 0;
  virtual void leaveApartment() = 0;
  // Asks the document window for its document, waiting at most timeoutMs.
  virtual ObjectRef documentFromWindow(WindowHandle documentWindow, int timeoutMs) = 0;
};

}  // namespace zandrel
