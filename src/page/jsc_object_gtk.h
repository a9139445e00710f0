#pragma once
// Late-bound automation over JavaScriptCore values: the page object's reads,
// served inside the browser engine's web process on the page's objects as an
// isolated script world sees them.
//
// Built on the JavaScriptCore C API rather than its GObject layer: a search
// makes some eleven reads per DIV element, and the GObject layer's wrapper
// object per value costs several times what the read itself does.

#include <JavaScriptCore/JavaScript.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "page/page_bridge.h"

namespace zandrel {

// The moment a search next to the page gives up. Past it every read yields
// its empty value at once, so an enormous page cannot keep the engine's
// process busy long after the program has stopped waiting for the answer.
class ReadDeadline {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ReadDeadline(Clock::time_point end) : end_(end) {}
  bool passed() const {
    if (!passed_ && Clock::now() >= end_) passed_ = true;
    return passed_;
  }

 private:
  Clock::time_point end_;
  mutable bool passed_ = false;
};

// What the objects of one search share: the script context they live in, the
// property names they use (made once), and the deadline.
class JscScope {
 public:
  // Texts read are cut to `textLimit` UTF-16 code units, so a huge property
  // is never converted whole.
  JscScope(JSGlobalContextRef context, ReadDeadline deadline,
           std::size_t textLimit = static_cast<std::size_t>(-1));
  ~JscScope();
  JscScope(const JscScope&) = delete;
  JscScope& operator=(const JscScope&) = delete;

  JSContextRef context() const { return context_; }
  JSStringRef name(std::string_view name);
  const ReadDeadline& deadline() const { return deadline_; }
  std::size_t textLimit() const { return textLimit_; }

 private:
  JSGlobalContextRef context_;
  ReadDeadline deadline_;
  std::size_t textLimit_;
  std::map<std::string, JSStringRef, std::less<>> names_;
};

// UTF-8 from the engine's UTF-16; an unpaired surrogate becomes U+FFFD.
std::string utf8FromUtf16(const JSChar* characters, std::size_t length);

class JscObject : public AutomationObject {
 public:
  // nullptr unless `value` is an object.
  static ObjectRef wrap(const std::shared_ptr<JscScope>& scope, JSValueRef value);

  JscObject(std::shared_ptr<JscScope> scope, JSObjectRef object);
  ~JscObject() override;
  JscObject(const JscObject&) = delete;
  JscObject& operator=(const JscObject&) = delete;

  // Strings, numbers and booleans as their text; undefined, null and objects
  // as the empty text (turning an object into text could run script).
  std::string getText(std::string_view name) override;
  // Numbers as they are; strings and booleans converted; the rest 0.
  double getNumber(std::string_view name) override;
  ObjectRef getObject(std::string_view name) override;
  ObjectRef call(std::string_view method, const Argument& argument) override;

 private:
  // The property's value, or nullptr when reading it threw or time is up.
  JSValueRef property(std::string_view name);

  std::shared_ptr<JscScope> scope_;
  JSObjectRef object_;  // protected from collection while held
};

}  // namespace zandrel
