#include "fakes/fake_window_layer.h"

namespace zandrel::testing {

bool FakeWindowLayer::initialise() {
  return true;
}

void FakeWindowLayer::registerExitRoutine(Procedure routine) {
  exitRoutines_.push_back(routine);
}

bool FakeWindowLayer::loadWindow(const WindowDesign& d) {
  if (failLoad) return false;
  design = &d;
  heights_[d.name] = d.height;
  for (const auto& c : d.controls) {
    heights_[c.name] = c.height;
    if (c.kind == ControlKind::HtmlViewer) urls_[c.name] = c.url;
  }
  if (const EventBinding* b = d.binding(d.name, EventKind::CreationComplete); b && b->handler) {
    creationCompleteRan = true;
    b->handler();
  }
  return true;
}

int FakeWindowLayer::messageLoop() {
  if (duringLoop && !ending_) duringLoop();
  runExitRoutines();
  return exitCode_;
}

void FakeWindowLayer::endProgram(int exitCode) {
  // As on every platform: the first request's code stands.
  if (!ending_) exitCode_ = exitCode;
  ending_ = true;
}

void FakeWindowLayer::close() {
  endProgram(0);
}

void FakeWindowLayer::runExitRoutines() {
  for (Procedure p : exitRoutines_) {
    ++exitRoutineRuns;
    p();
  }
  exitRoutines_.clear();
}

WindowHandle FakeWindowLayer::windowHandle(std::string_view control) {
  if (design == nullptr) return 0;
  if (control == design->name) return 1;
  for (std::size_t i = 0; i < design->controls.size(); ++i) {
    if (design->controls[i].name == control) return 100 + i;
  }
  return 0;
}

int FakeWindowLayer::messageBox(std::string_view text, int style,
                                std::optional<std::string> caption, WindowHandle owner) {
  Box box{std::string(text), style, caption.value_or(std::string(kDefaultBoxCaption)), owner};
  if (onBox) onBox(box);
  std::lock_guard lock(mutex);
  boxes.push_back(box);
  return boxAnswer;
}

int FakeWindowLayer::height(std::string_view name) {
  std::lock_guard lock(mutex);
  auto it = heights_.find(name);
  return it == heights_.end() ? 0 : it->second;
}

void FakeWindowLayer::setHeight(std::string_view name, int value) {
  std::lock_guard lock(mutex);
  heights_[std::string(name)] = value;
  heightWrites.emplace_back(std::string(name), value);
}

std::string FakeWindowLayer::url(std::string_view control) {
  std::lock_guard lock(mutex);
  if (inNavigated_) return navigating_;
  auto it = urls_.find(control);
  return it == urls_.end() ? std::string() : it->second;
}

void FakeWindowLayer::setUrl(std::string_view control, std::string_view address) {
  std::lock_guard lock(mutex);
  urls_[std::string(control)] = std::string(address);
  urlWrites.emplace_back(address);
}

std::string FakeWindowLayer::caption(std::string_view control) {
  std::lock_guard lock(mutex);
  auto it = captions_.find(control);
  return it == captions_.end() ? std::string() : it->second;
}

void FakeWindowLayer::setCaption(std::string_view control, std::string_view text) {
  std::lock_guard lock(mutex);
  captions_[std::string(control)] = std::string(text);
}

void FakeWindowLayer::postNotification(WindowHandle target, unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam) {
  std::lock_guard lock(mutex);
  notifications.push_back({target, message, wParam, lParam});
}

void FakeWindowLayer::navigate(std::string_view control, std::string_view address) {
  {
    std::lock_guard lock(mutex);
    navigating_ = std::string(address);
    inNavigated_ = true;
  }
  if (const EventBinding* b = design->binding(control, EventKind::Navigated); b && b->handler) {
    b->handler();
  }
  std::lock_guard lock(mutex);
  inNavigated_ = false;
}

void FakeWindowLayer::selectMenuItem(std::string_view item) {
  if (const EventBinding* b = design->binding(item, EventKind::MenuSelected); b && b->handler) {
    b->handler();
  }
}

}  // namespace zandrel::testing
