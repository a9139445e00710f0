#include "runtime/ui_dispatcher_gtk.h"

#include <glib.h>

namespace zandrel {
namespace {

using Weak = std::weak_ptr<UiDispatcher>;

gboolean drainOnce(gpointer data) {
  if (const std::shared_ptr<UiDispatcher> ui = static_cast<Weak*>(data)->lock()) ui->drain();
  return G_SOURCE_REMOVE;
}

void release(gpointer data) {
  const std::unique_ptr<Weak> owner(static_cast<Weak*>(data));
}

}  // namespace

void bindToGlibMainContext(const std::shared_ptr<UiDispatcher>& ui) {
  // Weak: a source still pending when the dispatcher goes finds nothing to do.
  ui->bindToCurrentThread([weak = Weak(ui)] {
    // g_idle_add_full is safe from any thread and wakes the UI thread's context.
    g_idle_add_full(G_PRIORITY_DEFAULT, &drainOnce, std::make_unique<Weak>(weak).release(),
                    &release);
    return true;
  });
}

}  // namespace zandrel
