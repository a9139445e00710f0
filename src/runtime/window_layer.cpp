#include "runtime/window_layer.h"

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

int messageBox(WindowLayer& layer, std::string_view text, int style,
               std::optional<std::string> caption, WindowHandle owner) {
  return layer.messageBox(text, style, std::move(caption), owner);
}

}  // namespace zandrel
