#include "runtime/window_layer.h"

#include <utility>

namespace zandrel {

const ControlDesign* WindowDesign::control(std::string_view controlName) const {
  for (const auto& c : controls) {
    if (c.name == controlName) return &c;
  }
  return nullptr;
}

const EventBinding* WindowDesign::binding(std::string_view source, EventKind event) const {
  for (const auto& b : bindings) {
    if (b.source == source && b.event == event) return &b;
  }
  return nullptr;
}

void ProgramEnd::addRoutine(Procedure routine) {
  if (routine != nullptr) routines_.push_back(routine);
}

bool ProgramEnd::request(int exitCode) {
  std::lock_guard lock(mutex_);
  if (requested_.load()) return false;
  exitCode_ = exitCode;
  requested_.store(true);
  return true;
}

int ProgramEnd::exitCode() const {
  std::lock_guard lock(mutex_);
  return exitCode_;
}

void ProgramEnd::runRoutines() {
  if (std::exchange(routinesRun_, true)) return;
  for (Procedure routine : routines_) routine();
}

int messageBox(WindowLayer& layer, std::string_view text, int style,
               std::optional<std::string> caption, WindowHandle owner) {
  return layer.messageBox(text, style, std::move(caption), owner);
}

}  // namespace zandrel
