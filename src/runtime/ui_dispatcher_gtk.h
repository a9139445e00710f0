#pragma once
// The UI dispatcher on GLib: the UI thread's main context drains it.

#include <memory>

#include "runtime/ui_dispatcher.h"

namespace zandrel {

// Binds `ui` to the calling thread; an idle source of the default main
// context, added from whichever thread queues a call, drains it.
void bindToGlibMainContext(const std::shared_ptr<UiDispatcher>& ui);

}  // namespace zandrel
