#include "page/jsc_object_gtk.h"

#include <cmath>

#include "runtime/text_units.h"

namespace zandrel {

namespace {

bool hasText(JSContextRef context, JSValueRef value) {
  const JSType type = JSValueGetType(context, value);
  return type == kJSTypeString || type == kJSTypeNumber || type == kJSTypeBoolean;
}

// Owns one JSStringRef.
class OwnedString {
 public:
  explicit OwnedString(JSStringRef string) : string_(string) {}
  ~OwnedString() {
    if (string_ != nullptr) JSStringRelease(string_);
  }
  OwnedString(const OwnedString&) = delete;
  OwnedString& operator=(const OwnedString&) = delete;
  JSStringRef get() const { return string_; }

 private:
  JSStringRef string_;
};

}  // namespace

std::string utf8FromUtf16(const JSChar* characters, std::size_t length) {
  std::string out;
  out.reserve(length + length / 2);
  for (std::size_t i = 0; i < length; ++i) {
    const char32_t unit = characters[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && characters[i + 1] >= 0xDC00 &&
        characters[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (characters[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

JscScope::JscScope(JSGlobalContextRef context, ReadDeadline deadline, std::size_t textLimit)
    : context_(JSGlobalContextRetain(context)), deadline_(deadline), textLimit_(textLimit) {}

JscScope::~JscScope() {
  for (auto& [text, name] : names_) JSStringRelease(name);
  JSGlobalContextRelease(context_);
}

JSStringRef JscScope::name(std::string_view name) {
  const auto found = names_.find(name);
  if (found != names_.end()) return found->second;
  const std::string text(name);
  return names_.emplace(text, JSStringCreateWithUTF8CString(text.c_str())).first->second;
}

ObjectRef JscObject::wrap(const std::shared_ptr<JscScope>& scope, JSValueRef value) {
  if (value == nullptr || !JSValueIsObject(scope->context(), value)) return nullptr;
  JSObjectRef object = JSValueToObject(scope->context(), value, nullptr);
  if (object == nullptr) return nullptr;
  return std::make_shared<JscObject>(scope, object);
}

JscObject::JscObject(std::shared_ptr<JscScope> scope, JSObjectRef object)
    : scope_(std::move(scope)), object_(object) {
  JSValueProtect(scope_->context(), object_);
}

JscObject::~JscObject() {
  JSValueUnprotect(scope_->context(), object_);
}

JSValueRef JscObject::property(std::string_view name) {
  if (scope_->deadline().passed()) return nullptr;
  JSValueRef exception = nullptr;
  JSValueRef value =
      JSObjectGetProperty(scope_->context(), object_, scope_->name(name), &exception);
  return exception != nullptr ? nullptr : value;
}

std::string JscObject::getText(std::string_view name) {
  JSContextRef context = scope_->context();
  JSValueRef value = property(name);
  if (value == nullptr || !hasText(context, value)) return {};
  JSValueRef exception = nullptr;
  const OwnedString text(JSValueToStringCopy(context, value, &exception));
  if (exception != nullptr || text.get() == nullptr) return {};
  const JSChar* characters = JSStringGetCharactersPtr(text.get());
  std::size_t length = JSStringGetLength(text.get());
  if (length > scope_->textLimit()) {
    length = scope_->textLimit();
    // A pair is kept whole or not at all.
    if (length > 0 && characters[length - 1] >= 0xD800 && characters[length - 1] <= 0xDBFF)
      --length;
  }
  return utf8FromUtf16(characters, length);
}

double JscObject::getNumber(std::string_view name) {
  JSContextRef context = scope_->context();
  JSValueRef value = property(name);
  if (value == nullptr || !hasText(context, value)) return 0.0;
  JSValueRef exception = nullptr;
  const double number = JSValueToNumber(context, value, &exception);
  return exception != nullptr || std::isnan(number) ? 0.0 : number;
}

ObjectRef JscObject::getObject(std::string_view name) {
  return wrap(scope_, property(name));
}

ObjectRef JscObject::call(std::string_view method, const Argument& argument) {
  JSContextRef context = scope_->context();
  JSValueRef function = property(method);
  if (function == nullptr || !JSValueIsObject(context, function)) return nullptr;
  JSObjectRef callable = JSValueToObject(context, function, nullptr);
  if (callable == nullptr || !JSObjectIsFunction(context, callable)) return nullptr;
  JSValueRef value = nullptr;
  if (const auto* text = std::get_if<std::string>(&argument)) {
    const OwnedString string(JSStringCreateWithUTF8CString(text->c_str()));
    value = JSValueMakeString(context, string.get());
  } else {
    value = JSValueMakeNumber(context, std::get<double>(argument));
  }
  JSValueRef exception = nullptr;
  JSValueRef result = JSObjectCallAsFunction(context, callable, object_, 1, &value, &exception);
  return exception != nullptr ? nullptr : wrap(scope_, result);
}

}  // namespace zandrel
