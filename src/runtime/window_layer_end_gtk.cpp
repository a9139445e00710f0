#include <X11/Xlib.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "runtime/window_layer_impl_gtk.h"

namespace zandrel::gtk_layer {
namespace {
// The write end of the QUIT signal's pipe, for the handler; -1 when none.
std::atomic<int> quitSignalWriter{-1};
static_assert(std::atomic<int>::is_always_lock_free);
// The layer whose end runs when the display is lost.
std::atomic<GtkWindowLayer*> displayWatcher{nullptr};
}  // namespace

// Xlib calls its IO error handler on whichever connection finds the display
// gone (the GDK one, the key source's) and ends the process when the handler
// returns; GDK's own handler exits at once. Either way the end would be
// skipped and the voice would go on talking, so the layer's handler runs the
// end itself and never returns.
void GtkWindowLayer::watchDisplay() {
  if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) return;
  displayWatcher = this;
  XSetIOErrorHandler(+[](Display*) -> int {
    static std::atomic<bool> ending{false};
    GtkWindowLayer* layer = displayWatcher.load();
    // The end itself may touch the dead display and come back here.
    if (ending.exchange(true) || layer == nullptr) ::_exit(kDisplayLostExitCode);
    layer->endOnLostDisplay();
  });
}

void GtkWindowLayer::endOnLostDisplay() {
  end_.request(kDisplayLostExitCode);
  // The exit routines silence the voice and release the globals, once, as
  // every other end does. Nothing of GTK may run any more: no loop, no
  // window to destroy.
  end_.runRoutines();
  std::fflush(nullptr);
  ::_exit(end_.exitCode());
}

// Ctrl+C or Ctrl+\ in a terminal, a closed terminal or a logout (HUP) and a
// TERM from the session end the program like the close box does: the voice is
// silenced and the exit routines still run, once.
void GtkWindowLayer::watchSignals() {
  const int signals[kHandledSignals] = {SIGINT, SIGTERM, SIGHUP};
  for (int i = 0; i < kHandledSignals; ++i) {
    signalHooks_[i] = SignalHook{this, signals[i]};
    signalSources_[i] = g_unix_signal_add(
        signals[i],
        +[](gpointer data) -> gboolean {
          auto* hook = static_cast<SignalHook*>(data);
          hook->layer->endProgram(128 + hook->signal);
          return G_SOURCE_CONTINUE;
        },
        &signalHooks_[i]);
  }
  // GLib watches HUP, INT and TERM itself but refuses QUIT: that one comes to
  // the main loop through a pipe of the layer's own.
  if (::pipe2(quitPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    quitPipe_[0] = quitPipe_[1] = -1;
    return;
  }
  quitSignalWriter = quitPipe_[1];
  struct sigaction action {};
  action.sa_handler = +[](int) {
    const int saved = errno;
    const int fd = quitSignalWriter.load();
    const char byte = 'q';
    if (fd >= 0) {
      [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
  };
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGQUIT, &action, nullptr);
  quitSource_ = g_unix_fd_add(
      quitPipe_[0], G_IO_IN,
      +[](gint fd, GIOCondition, gpointer self) -> gboolean {
        char drained[64];
        while (::read(fd, drained, sizeof(drained)) > 0) {
        }
        static_cast<GtkWindowLayer*>(self)->endProgram(128 + SIGQUIT);
        return G_SOURCE_CONTINUE;
      },
      this);
}

void GtkWindowLayer::unwatchSignals() {
  displayWatcher = nullptr;
  for (guint& source : signalSources_) {
    if (source != 0) g_source_remove(source);
    source = 0;
  }
  if (quitPipe_[0] < 0) return;
  ::signal(SIGQUIT, SIG_DFL);
  quitSignalWriter = -1;
  if (quitSource_ != 0) g_source_remove(quitSource_);
  quitSource_ = 0;
  ::close(quitPipe_[0]);
  ::close(quitPipe_[1]);
  quitPipe_[0] = quitPipe_[1] = -1;
}

void GtkWindowLayer::registerExitRoutine(Procedure routine) {
  end_.addRoutine(routine);
}

void GtkWindowLayer::processWaitingMessages() {
  if (!gtkReady_ || !ui_->onUiThread()) return;
  // Bounded: an always-ready idle source must not keep the caller here. A
  // requested end stops the dispatching and stays pending for the loop.
  for (int i = 0; i < 10000 && !end_.requested(); ++i) {
    if (!g_main_context_iteration(nullptr, FALSE)) break;
  }
}

int GtkWindowLayer::messageLoop() {
  if (gtkReady_ && ui_->onUiThread()) {
    if (window_ != nullptr && !end_.requested()) gtk_widget_show_all(window_);
    while (!end_.requested()) g_main_context_iteration(nullptr, TRUE);
  }
  finishProgram();
  return end_.exitCode();
}

void GtkWindowLayer::endProgram(int exitCode) {
  if (!end_.request(exitCode) || !gtkReady_) return;
  g_main_context_wakeup(nullptr);
  // A box the UI thread is running holds it in a nested loop: close it.
  ui_->post([this] { closeModalBoxes(); });
}

void GtkWindowLayer::finishProgram() {
  // From here on calls from other threads return at once instead of waiting
  // for a UI thread that is busy ending (an exit routine may wait for them).
  ui_->close();
  closeOffThreadBoxes();
  if (window_ != nullptr) gtk_widget_hide(window_);
  end_.runRoutines();
  destroyWindow();
  if (gtkReady_) gdk_display_flush(gdk_display_get_default());
}

}  // namespace zandrel::gtk_layer
