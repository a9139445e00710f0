#pragma once
// The HtmlViewer control: a WebKitWebView on the default web context, kept
// quiet (no dialogs of the engine's own) and kept alive (a hung or crashed web
// process never leaves the view dead).

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "runtime/window_layer.h"

namespace zandrel {

class UiDispatcher;

struct CancellableUnref {
  void operator()(GCancellable* c) const { g_object_unref(c); }
};
using CancellableRef = std::unique_ptr<GCancellable, CancellableUnref>;

class Browser {
 public:
  // Called on the UI thread for every completed navigation with its address:
  // the main frame's and each sub-frame's.
  using NavigatedHandler = std::function<void(const std::string& address)>;

  Browser(const ControlDesign& design, NavigatedHandler navigated, UiDispatcher& ui);
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;
  ~Browser();

  // The view; owned by the widget tree it is put into.
  GtkWidget* widget() const { return view_; }

  // Starts loading `address` and returns. The address already shown is loaded
  // again from the server; a web process that no longer answers is replaced.
  void navigate(const std::string& address);
  // The view's current address ("" before the first load).
  std::string address() const;

  // How long a web process may leave a probe unanswered after a navigation
  // was asked for before it is taken for hung.
  static constexpr std::chrono::milliseconds kProbeTimeout{2500};
  // A page load that has no answer within kHeadLimit, or after its answer
  // began makes no progress for kProgressLimit, is stopped and a message put
  // in its place: a site that accepts and never answers must not leave the
  // view blank. Test hook: ZANDREL_TEST_LOAD_LIMITS="<head ms>,<progress ms>"
  // in the environment replaces both, so end-to-end tests need not wait.
  static constexpr std::chrono::milliseconds kHeadLimit{15000};
  static constexpr std::chrono::milliseconds kProgressLimit{30000};

 private:
  void connectQuietHandlers();
  void onLoadEvent(int event);
  void watchLoad(std::chrono::milliseconds limit);
  void unwatchLoad();
  void onLoadStalled();
  void onCommitted(const std::string& address);
  bool onLoadFailed(const std::string& address, const GError* error);
  void startProbe();
  void stopProbe();
  void replaceWebProcess();
  void onProbeAnswered(GObject* view, GAsyncResult* result);
  void onTerminated(int reason);

  GtkWidget* view_ = nullptr;
  NavigatedHandler navigated_;
  UiDispatcher& ui_;
  std::string lastRequested_;
  // The address whose failure message is being shown in its place.
  std::optional<std::string> failedAddress_;
  guint stallTimer_ = 0;
  bool committed_ = false;  // the load in progress has its answer
  std::chrono::milliseconds headLimit_ = kHeadLimit;
  std::chrono::milliseconds progressLimit_ = kProgressLimit;
  CancellableRef probe_;
  guint probeTimer_ = 0;
  // Crash recovery is bounded so that a page that crashes its process on every
  // load cannot keep the program busy forever.
  int recoveries_ = 0;
  bool gaveUp_ = false;  // the message that says so is shown
  std::chrono::steady_clock::time_point recoveryWindowStart_{};
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zandrel
