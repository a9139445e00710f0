#include "fakes/fake_page.h"

#include "page/dom_search.h"

#include <algorithm>
#include <cstdio>

namespace zandrel::testing {

namespace {

std::string argumentText(const AutomationObject::Argument& argument) {
  if (const auto* text = std::get_if<std::string>(&argument)) return "\"" + *text + "\"";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", std::get<double>(argument));
  return buffer;
}

}  // namespace

class FakeDom::Ref : public AutomationObject {
 public:
  Ref(FakeDom& dom, std::shared_ptr<FakeNode> node) : dom_(dom), node_(std::move(node)) {
    ++dom_.live_;
  }
  ~Ref() override { --dom_.live_; }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;

  std::string getText(std::string_view name) override {
    const FakeValue value = read(name);
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<double>(&value)) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", *number);
      return buffer;
    }
    return {};
  }
  double getNumber(std::string_view name) override {
    const FakeValue value = read(name);
    const auto* number = std::get_if<double>(&value);
    return number != nullptr ? *number : 0.0;
  }
  ObjectRef getObject(std::string_view name) override {
    FakeValue value = read(name);
    auto* node = std::get_if<std::shared_ptr<FakeNode>>(&value);
    return node != nullptr ? dom_.ref(std::move(*node)) : nullptr;
  }
  ObjectRef call(std::string_view method, const Argument& argument) override {
    log(std::string(method) + "(" + argumentText(argument) + ")");
    const auto found = node_->methods.find(method);
    if (found == node_->methods.end()) return nullptr;
    FakeValue value = found->second(argument);
    auto* node = std::get_if<std::shared_ptr<FakeNode>>(&value);
    return node != nullptr ? dom_.ref(std::move(*node)) : nullptr;
  }
  std::optional<std::string> divInnerHtml(std::string_view key, int skip,
                                          dom::SearchTrace& trace) override {
    if (!node_->fastDivInnerHtml) return std::nullopt;
    log("divInnerHtml");
    if (node_->fastCause >= 0) trace.cause = static_cast<std::uint8_t>(node_->fastCause);
    return node_->fastDivInnerHtml(key, skip);
  }

 private:
  void log(std::string what) { dom_.reads.push_back({node_->label + "." + what, dom_.live_}); }
  FakeValue read(std::string_view name) {
    log(std::string(name));
    const auto found = node_->properties.find(name);
    return found != node_->properties.end() ? found->second : FakeValue{};
  }

  FakeDom& dom_;
  std::shared_ptr<FakeNode> node_;
};

std::shared_ptr<FakeNode> FakeDom::node(std::string label,
                                        std::map<std::string, FakeValue, std::less<>> properties) {
  auto made = std::make_shared<FakeNode>();
  made->label = std::move(label);
  made->properties = std::move(properties);
  return made;
}

std::shared_ptr<FakeNode> FakeDom::div(std::string label, std::string className,
                                       std::string innerText, std::string name, std::string id,
                                       std::string title) {
  auto made = node(std::move(label), {{"className", std::move(className)},
                                      {"innerText", std::move(innerText)},
                                      {"name", std::move(name)},
                                      {"id", std::move(id)},
                                      {"title", std::move(title)}});
  made->properties["innerHTML"] = "<b>" + made->label + "</b>";
  return made;
}

std::shared_ptr<FakeNode> FakeDom::document(std::vector<std::shared_ptr<FakeNode>> divs) {
  auto collection = node("divs", {{"length", static_cast<double>(divs.size())}});
  collection->methods["item"] = [divs](const AutomationObject::Argument& argument) -> FakeValue {
    const auto* index = std::get_if<double>(&argument);
    if (index == nullptr || *index < 0 || *index >= static_cast<double>(divs.size())) return {};
    return divs[static_cast<std::size_t>(*index)];
  };
  auto all = node("all");
  all->methods["tags"] = [collection](const AutomationObject::Argument& argument) -> FakeValue {
    const auto* tag = std::get_if<std::string>(&argument);
    if (tag == nullptr || *tag != "div") return {};
    return collection;
  };
  auto body = node("body", {{"all", all}});
  return node("doc", {{"body", body}});
}

ObjectRef FakeDom::ref(std::shared_ptr<FakeNode> node) {
  if (!node) return nullptr;
  return std::make_shared<Ref>(*this, std::move(node));
}

std::vector<std::string> FakeDom::readNames() const {
  std::vector<std::string> names;
  for (const Read& read : reads) names.push_back(read.what);
  return names;
}

std::vector<FakeDom::Read> FakeDom::readsOf(std::string_view suffix) const {
  std::vector<Read> found;
  for (const Read& read : reads) {
    const std::string_view what = read.what;
    if (what.size() > suffix.size() && what.substr(what.size() - suffix.size()) == suffix &&
        what[what.size() - suffix.size() - 1] == '.') {
      found.push_back(read);
    }
  }
  return found;
}

WindowHandle FakePageBridge::add(WindowHandle parent, std::string name, std::string className,
                                 WindowHandle handle) {
  if (handle == 0) {
    handle = nextHandle_;
    nextHandle_ += 0x10;
  }
  windows_[handle] = Window{std::move(name), std::move(className), parent, {}};
  if (parent != 0) windows_.at(parent).children.push_back(handle);
  return handle;
}

void FakePageBridge::destroy(WindowHandle window) {
  const auto found = windows_.find(window);
  if (found == windows_.end()) return;
  const std::vector<WindowHandle> children = found->second.children;
  for (const WindowHandle child : children) destroy(child);
  const WindowHandle parent = windows_.at(window).parent;
  if (const auto up = windows_.find(parent); up != windows_.end()) {
    auto& siblings = up->second.children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
  }
  windows_.erase(window);
}

std::string FakePageBridge::nameOf(WindowHandle window) const {
  if (window == 0) return "-";
  const auto found = windows_.find(window);
  return found != windows_.end() ? found->second.name : "?";
}

bool FakePageBridge::isWindow(WindowHandle window) {
  log.push_back("isWindow(" + nameOf(window) + ")");
  return windows_.count(window) != 0;
}

WindowHandle FakePageBridge::nextChild(WindowHandle parent, WindowHandle after) {
  log.push_back("next(" + nameOf(parent) + "," + nameOf(after) + ")");
  const auto found = windows_.find(parent);
  if (found == windows_.end()) return 0;
  const auto& children = found->second.children;
  if (after == 0) return children.empty() ? 0 : children.front();
  const auto position = std::find(children.begin(), children.end(), after);
  if (position == children.end() || position + 1 == children.end()) return 0;
  return *(position + 1);
}

std::string FakePageBridge::className(WindowHandle window) {
  log.push_back("class(" + nameOf(window) + ")");
  const auto found = windows_.find(window);
  return found != windows_.end() ? found->second.className.substr(0, 49) : std::string();
}

void FakePageBridge::processWaitingMessages() {
  log.push_back("pump");
  if (onPump) onPump();
}

ObjectRef FakePageBridge::documentFromWindow(WindowHandle documentWindow, int timeoutMs) {
  log.push_back("document(" + nameOf(documentWindow) + "," + std::to_string(timeoutMs) + ")");
  return answer ? answer(documentWindow) : nullptr;
}

}  // namespace zandrel::testing
