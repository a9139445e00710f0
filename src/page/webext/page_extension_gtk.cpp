// The program's extension inside WebKit's web process. It answers the page
// object's questions next to the page, running the same DIV search as the
// program, and reports sub-frame navigations. All reads happen in a script
// world of its own: the page's script cannot see it, and the page's changes to
// the DOM's prototypes, getters or globals do not reach it.

#include <webkit2/webkit-web-extension.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "page/dom_search.h"
#include "page/gobject_ptr_gtk.h"
#include "page/jsc_object_gtk.h"
#include "page/page_messages_gtk.h"
#include "runtime/frame_messages_gtk.h"

namespace zandrel {
namespace {

namespace msg = page_messages;

// Both live as long as the process.
WebKitWebExtension* extension = nullptr;
WebKitScriptWorld* ownWorld = nullptr;

// The identity of each page's current main document: it changes whenever the
// main frame gets a new window object, so an answer is never taken from a
// document other than the one the program was given.
std::unordered_map<std::uint64_t, std::uint64_t> documentOfPage;
std::uint64_t nextDocument = 1;

// The DOM of the classic engine the page object is written for, in this
// world only: every element has `all`, whose tags(name) lists the element's
// descendants with that tag in document order, and an element without a
// `name` property reads its name attribute.
constexpr char kClassicDom[] = R"JS(
(function () {
  'use strict';
  const proto = Element.prototype;
  if (Object.prototype.hasOwnProperty.call(proto, 'all')) return;
  const byTag = proto.getElementsByTagName;
  const attribute = proto.getAttribute;
  Object.defineProperty(proto, 'all', {
    get: function () {
      const element = this;
      return { tags: function (name) { return byTag.call(element, String(name)); } };
    }
  });
  Object.defineProperty(proto, 'name', {
    get: function () {
      const value = attribute.call(this, 'name');
      return value === null ? undefined : value;
    }
  });
})();
)JS";

// Installs, once per document of a sub-frame, a listener that reports the
// document as loaded. Only an event the engine itself dispatched counts: the
// page's script can dispatch a DOMContentLoaded of its own, but not a trusted
// one.
constexpr char kWatchFrame[] = R"JS(
(function (report) {
  'use strict';
  if (globalThis.hasOwnProperty('__zandrelWatched')) return;
  Object.defineProperty(globalThis, '__zandrelWatched', { value: true });
  const doc = document;
  doc.addEventListener('DOMContentLoaded', function (event) {
    if (event.isTrusted && event.target === doc) report(doc.URL);
  }, true);
})
)JS";

// Deprecated since 2.48 with site isolation in view, where a page's main frame
// can live in another process; it has no replacement, and the program's pages
// keep their main frame in this process.
WebKitFrame* mainFrameOf(WebKitWebPage* page) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return webkit_web_page_get_main_frame(page);
#pragma GCC diagnostic pop
}

glib::Object<JSCContext> contextOf(WebKitFrame* frame) {
  return glib::Object<JSCContext>(webkit_frame_get_js_context_for_script_world(frame, ownWorld));
}

// Runs script in the context; false when it threw.
glib::Object<JSCValue> evaluate(JSCContext* context, const char* script) {
  jsc_context_clear_exception(context);
  glib::Object<JSCValue> result(jsc_context_evaluate(context, script, -1));
  if (jsc_context_get_exception(context) != nullptr) {
    jsc_context_clear_exception(context);
    return nullptr;
  }
  return result;
}

void reply(WebKitUserMessage* message, GVariant* parameters) {
  // The reply message takes over the floating parameters.
  webkit_user_message_send_reply(
      message, webkit_user_message_new(webkit_user_message_get_name(message), parameters));
}

GVariant* bytesVariant(const std::string& text) {
  return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, text.data(), text.size(), 1);
}

std::uint64_t currentDocument(WebKitWebPage* page) {
  const auto found = documentOfPage.find(webkit_web_page_get_id(page));
  return found != documentOfPage.end() ? found->second : 0;
}

void answerDocumentQuery(WebKitWebPage* page, WebKitUserMessage* message) {
  bool hasDocument = false;
  if (WebKitFrame* frame = mainFrameOf(page)) {
    if (const glib::Object<JSCContext> context = contextOf(frame)) {
      const glib::Object<JSCValue> document(jsc_context_get_value(context.get(), "document"));
      hasDocument = document && jsc_value_is_object(document.get());
    }
  }
  reply(message, g_variant_new(msg::kDocumentReplyType, hasDocument, currentDocument(page)));
}

// The C API's handle on the frame's context in the program's world, for the
// search (see jsc_object_gtk.h for why the search uses the C API). Deprecated
// in favour of the GObject layer's context, which does not give it out.
JSGlobalContextRef searchContextOf(WebKitFrame* frame) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return webkit_frame_get_javascript_context_for_script_world(frame, ownWorld);
#pragma GCC diagnostic pop
}

std::string searchDivInnerHtml(WebKitWebPage* page, std::string_view key, std::int32_t skip,
                               dom::SearchTrace& trace) {
  WebKitFrame* frame = mainFrameOf(page);
  if (frame == nullptr) return {};
  JSGlobalContextRef context = searchContextOf(frame);
  if (context == nullptr) return {};
  // No text read needs more code units than the markup handed on has bytes.
  auto scope = std::make_shared<JscScope>(
      context,
      ReadDeadline(ReadDeadline::Clock::now() + std::chrono::milliseconds(msg::kSearchBudgetMs)),
      dom::kMaxMarkupBytes);
  {
    JSStringRef script = JSStringCreateWithUTF8CString(kClassicDom);
    JSEvaluateScript(context, script, nullptr, nullptr, 1, nullptr);
    JSStringRelease(script);
  }
  JSValueRef exception = nullptr;
  JSValueRef documentValue = JSObjectGetProperty(context, JSContextGetGlobalObject(context),
                                                 scope->name("document"), &exception);
  const ObjectRef document = exception != nullptr ? nullptr : JscObject::wrap(scope, documentValue);
  std::string text = dom::divInnerHtml(document.get(), key, skip, &trace);
  // Reads past the deadline were empty: whatever the search made of them is
  // not an answer.
  if (!scope->deadline().passed()) return text;
  trace.cause = dom::SearchTrace::kTimedOut;
  return {};
}

void answerDivInnerHtml(WebKitWebPage* page, WebKitUserMessage* message) {
  GVariant* parameters = webkit_user_message_get_parameters(message);
  std::string text;
  dom::SearchTrace trace;
  if (parameters != nullptr &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE(msg::kDivInnerHtmlType))) {
    guint64 document = 0;
    gint32 skip = 0;
    const glib::Variant key(g_variant_get_child_value(parameters, 1));
    g_variant_get_child(parameters, 0, "t", &document);
    g_variant_get_child(parameters, 2, "i", &skip);
    gsize size = 0;
    const auto* bytes =
        static_cast<const char*>(g_variant_get_fixed_array(key.get(), &size, sizeof(char)));
    if (document == currentDocument(page)) {
      text = searchDivInnerHtml(page, std::string_view(bytes != nullptr ? bytes : "", size), skip,
                                trace);
    }
  }
  reply(message, g_variant_new(msg::kDivInnerHtmlReplyFormat, bytesVariant(text), trace.visited,
                               trace.match, trace.by, trace.cause));
}

gboolean onUserMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
  const std::string_view name = webkit_user_message_get_name(message);
  if (name == msg::kDocumentQuery) {
    answerDocumentQuery(page, message);
    return TRUE;
  }
  if (name == msg::kDivInnerHtml) {
    answerDivInnerHtml(page, message);
    return TRUE;
  }
  return FALSE;
}

void onFrameLoaded(const char* address, gpointer pageId) {
  WebKitWebPage* page =
      webkit_web_extension_get_page(extension, *static_cast<std::uint64_t*>(pageId));
  if (page == nullptr || address == nullptr) return;
  const glib::String valid(g_utf8_make_valid(address, -1));
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new(kFrameNavigatedMessage, g_variant_new("(s)", valid.get())),
      nullptr, nullptr, nullptr);
}

void forgetPageId(gpointer pageId) {
  const std::unique_ptr<std::uint64_t> owned(static_cast<std::uint64_t*>(pageId));
}

void watchFrame(WebKitWebPage* page, WebKitFrame* frame) {
  const glib::Object<JSCContext> context = contextOf(frame);
  if (!context) return;
  const glib::Object<JSCValue> install = evaluate(context.get(), kWatchFrame);
  if (!install || !jsc_value_is_function(install.get())) return;
  auto pageId = std::make_unique<std::uint64_t>(webkit_web_page_get_id(page));
  const glib::Object<JSCValue> report(
      jsc_value_new_function(context.get(), nullptr, G_CALLBACK(onFrameLoaded), pageId.release(),
                             forgetPageId, G_TYPE_NONE, 1, G_TYPE_STRING));
  const glib::Object<JSCValue> done(
      jsc_value_function_call(install.get(), JSC_TYPE_VALUE, report.get(), G_TYPE_NONE));
  jsc_context_clear_exception(context.get());
}

void onWindowObjectCleared(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  if (webkit_frame_is_main_frame(frame)) {
    documentOfPage[webkit_web_page_get_id(page)] = nextDocument++;
  } else {
    watchFrame(page, frame);
  }
}

void onPageGone(gpointer pageId, GObject*) {
  documentOfPage.erase(static_cast<std::uint64_t>(GPOINTER_TO_SIZE(pageId)));
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_signal_connect(page, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
  static_assert(sizeof(gsize) >= sizeof(std::uint64_t));
  g_object_weak_ref(G_OBJECT(page), onPageGone, GSIZE_TO_POINTER(webkit_web_page_get_id(page)));
}

}  // namespace
}  // namespace zandrel

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
  using namespace zandrel;
  zandrel::extension = extension;
  ownWorld = webkit_script_world_new();
  g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
  // The page's own world always has a window object, so its signal reaches
  // every frame; this world's covers frames whose documents run no script.
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(onWindowObjectCleared), nullptr);
  g_signal_connect(ownWorld, "window-object-cleared", G_CALLBACK(onWindowObjectCleared), nullptr);
}
