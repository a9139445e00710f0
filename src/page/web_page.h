#pragma once
// WebPage: the program's way into the page the embedded browser shows. It finds
// the engine's document window below a browser window, takes the document from
// it and reads values out of the page by late binding. Every failure is an
// empty value, never an error.

#include <cstdint>
#include <string>
#include <string_view>

#include "page/dom_search.h"
#include "page/page_bridge.h"

namespace zandrel {

class WebPage {
 public:
  // Uses services().page; tests may pass a bridge of their own. Without a
  // bridge every operation yields its empty value.
  WebPage();
  explicit WebPage(PageBridge& bridge);
  virtual ~WebPage();
  WebPage(const WebPage& other);  // a second reference to the same document
  WebPage& operator=(const WebPage&) = delete;

  virtual bool attach(WindowHandle window);
  virtual ObjectRef getDocument() const;
  virtual void releaseDocument();
  virtual WindowHandle findServerWindow(WindowHandle parent);
  virtual bool documentFromWindow(WindowHandle window, ObjectRef& target);
  virtual ObjectRef findDivElement(std::string_view key, std::int32_t skip, std::int32_t& ordinal);
  // A given trace receives what the search saw, wherever it ran.
  virtual std::string divInnerHtml(std::string_view key, std::int32_t skip,
                                   dom::SearchTrace* trace = nullptr);

 private:
  explicit WebPage(PageBridge* bridge);

  PageBridge* bridge_;
  ObjectRef doc_;
};

}  // namespace zandrel
