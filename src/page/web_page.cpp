#include "page/web_page.h"

#include "runtime/services.h"

namespace zandrel {

namespace {

// How long the document window may take to hand over its document.
constexpr int kDocumentTimeoutMs = 1000;

}  // namespace

WebPage::WebPage() : WebPage(services().page) {}

WebPage::WebPage(PageBridge& bridge) : WebPage(&bridge) {}

WebPage::WebPage(PageBridge* bridge) : bridge_(bridge) {
  if (bridge_ != nullptr) bridge_->enterApartment();
}

WebPage::~WebPage() {
  doc_.reset();
  if (bridge_ != nullptr) bridge_->leaveApartment();
}

// The copy holds its own reference to the same document and its own entry into
// the thread's apartment, so each object's destruction balances its own.
WebPage::WebPage(const WebPage& other) : bridge_(other.bridge_), doc_(other.doc_) {
  if (bridge_ != nullptr) bridge_->enterApartment();
}

bool WebPage::attach(WindowHandle window) {
  if (bridge_ == nullptr || !bridge_->isWindow(window)) return false;
  documentFromWindow(window, doc_);
  return doc_ != nullptr;
}

ObjectRef WebPage::getDocument() const {
  return doc_;
}

void WebPage::releaseDocument() {
  doc_.reset();
}

// Depth-first pre-order: a window's own class before its children, a child's
// whole subtree before its next sibling. Waiting messages are processed after
// each step to a sibling, so a long search on the UI thread keeps the window
// alive. Handles are pointers here, not 32-bit numbers: the walk goes on while
// the handle is not 0.
WindowHandle WebPage::findServerWindow(WindowHandle parent) {
  if (bridge_ == nullptr) return 0;
  const std::string_view documentClass = bridge_->documentWindowClass();
  WindowHandle child = bridge_->nextChild(parent, 0);
  while (child != 0) {
    if (bridge_->className(child) == documentClass) return child;
    if (const WindowHandle found = findServerWindow(child); found != 0) return found;
    child = bridge_->nextChild(parent, child);
    bridge_->processWaitingMessages();
  }
  return 0;
}

// A document the target already held is dropped, not leaked; on failure the
// target ends up empty, as the bridge's answer leaves it.
bool WebPage::documentFromWindow(WindowHandle window, ObjectRef& target) {
  if (bridge_ == nullptr) return false;
  if (bridge_->className(window) != bridge_->documentWindowClass()) {
    window = findServerWindow(window);
    if (window == 0) return false;
  }
  target = bridge_->documentFromWindow(window, kDocumentTimeoutMs);
  return target != nullptr;
}

ObjectRef WebPage::findDivElement(std::string_view key, std::int32_t skip, std::int32_t& ordinal) {
  return dom::findDivElement(doc_.get(), key, skip, ordinal);
}

std::string WebPage::divInnerHtml(std::string_view key, std::int32_t skip,
                                  dom::SearchTrace* trace) {
  // A document that can run the search next to the page answers in one step;
  // it runs the very same search as below.
  if (doc_ != nullptr) {
    dom::SearchTrace seen;
    if (std::optional<std::string> text = doc_->divInnerHtml(key, skip, trace ? *trace : seen)) {
      text->resize(dom::boundedMarkup(*text).size());
      return std::move(*text);
    }
  }
  return dom::divInnerHtml(doc_.get(), key, skip, trace);
}

}  // namespace zandrel
