#include "runtime/window_layer_browser_gtk.h"

#include <webkit2/webkit2.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/document_window_gtk.h"
#include "runtime/error_page.h"
#include "runtime/frame_messages_gtk.h"
#include "runtime/ui_dispatcher.h"

namespace zandrel {
namespace {

// The classic text sizes 最小 … 最大 as zoom factors of the text.
constexpr std::array<double, 5> kTextZoom = {0.7, 0.85, 1.0, 1.15, 1.3};

WebKitWebView* asView(GtkWidget* widget) {
  return WEBKIT_WEB_VIEW(widget);
}

// --- Silent: every engine dialog is answered without showing anything. ---

gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
  switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
      break;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
      // Leaving the page is allowed: a silent browser never holds the user on
      // a page by asking.
      webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
      break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      // No text set: the page's prompt() returns null, as when cancelled.
    case WEBKIT_SCRIPT_DIALOG_ALERT:
    default:
      break;
  }
  return TRUE;
}

gboolean onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  webkit_authentication_request_cancel(request);
  return TRUE;
}

gboolean onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}

gboolean onPrint(WebKitWebView*, WebKitPrintOperation*, gpointer) {
  return TRUE;
}

gboolean onFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

gboolean onColorChooser(WebKitWebView*, WebKitColorChooserRequest* request, gpointer) {
  webkit_color_chooser_request_cancel(request);
  return TRUE;
}

gboolean onNotification(WebKitWebView*, WebKitNotification*, gpointer) {
  return TRUE;
}

// A link or form aimed at a new window opens in this view when the user asked
// for it (a click), so a page that sends its result page to a new window still
// shows it; windows that a script opens on its own are refused.
GtkWidget* onCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer) {
  if (webkit_navigation_action_is_user_gesture(action)) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const gchar* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
    if (uri != nullptr && *uri != '\0') webkit_web_view_load_uri(view, uri);
  }
  return nullptr;
}

// The window's size is fixed; a page may not take the screen.
gboolean onEnterFullscreen(WebKitWebView*, gpointer) {
  return TRUE;
}

}  // namespace

Browser::Browser(const ControlDesign& design, NavigatedHandler navigated, UiDispatcher& ui)
    : navigated_(std::move(navigated)), ui_(ui) {
  // webkit_web_view_new uses the default web context, which the page bridge
  // has configured (extension directory) before the window is built.
  view_ = webkit_web_view_new();
  g_object_ref_sink(view_);

  WebKitSettings* settings = webkit_web_view_get_settings(asView(view_));
  // Software rendering: without a GPU (a virtual display, a remote session)
  // accelerated compositing can leave the view blank.
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  const int size = design.fontSize >= 0 && design.fontSize < static_cast<int>(kTextZoom.size())
                       ? design.fontSize
                       : 2;
  if (size != 2) {
    webkit_settings_set_zoom_text_only(settings, TRUE);
    webkit_web_view_set_zoom_level(asView(view_), kTextZoom[static_cast<std::size_t>(size)]);
  }

  if (const char* limits = g_getenv("ZANDREL_TEST_LOAD_LIMITS")) {
    long head = 0;
    long progress = 0;
    if (std::sscanf(limits, "%ld,%ld", &head, &progress) == 2 && head > 0 && progress > 0) {
      headLimit_ = std::chrono::milliseconds(head);
      progressLimit_ = std::chrono::milliseconds(progress);
    }
  }
  g_signal_connect(view_, "load-changed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                     static_cast<Browser*>(self)->onLoadEvent(event);
                   }),
                   this);
  g_signal_connect(view_, "notify::estimated-load-progress",
                   G_CALLBACK(+[](GObject*, GParamSpec*, gpointer data) {
                     // Bytes are coming: a slow page that moves may take its time.
                     auto* self = static_cast<Browser*>(data);
                     if (self->stallTimer_ != 0 && self->committed_)
                       self->watchLoad(self->progressLimit_);
                   }),
                   this);
  g_signal_connect(
      view_, "load-failed",
      G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                     gpointer self) -> gboolean {
        return static_cast<Browser*>(self)->onLoadFailed(uri != nullptr ? uri : "", error) ? TRUE
                                                                                           : FALSE;
      }),
      this);
  g_signal_connect(
      view_, "user-message-received",
      G_CALLBACK(+[](WebKitWebView*, WebKitUserMessage* message, gpointer self) -> gboolean {
        if (std::strcmp(webkit_user_message_get_name(message), kFrameNavigatedMessage) != 0) {
          return FALSE;
        }
        GVariant* parameters = webkit_user_message_get_parameters(message);
        if (parameters != nullptr && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
          const gchar* address = nullptr;
          g_variant_get(parameters, "(&s)", &address);
          static_cast<Browser*>(self)->navigated_(address);
        }
        return TRUE;
      }),
      this);
  g_signal_connect(
      view_, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
        static_cast<Browser*>(self)->onTerminated(static_cast<int>(reason));
      }),
      this);
  g_signal_connect(view_, "enter-fullscreen", G_CALLBACK(onEnterFullscreen), nullptr);
  if (design.silent) connectQuietHandlers();

  if (!design.url.empty()) navigate(design.url);
}

Browser::~Browser() {
  *alive_ = false;
  stopProbe();
  unwatchLoad();
  g_signal_handlers_disconnect_by_data(view_, this);
  g_object_unref(view_);
}

void Browser::connectQuietHandlers() {
  g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), nullptr);
  g_signal_connect(view_, "authenticate", G_CALLBACK(onAuthenticate), nullptr);
  g_signal_connect(view_, "permission-request", G_CALLBACK(onPermissionRequest), nullptr);
  g_signal_connect(view_, "print", G_CALLBACK(onPrint), nullptr);
  g_signal_connect(view_, "run-file-chooser", G_CALLBACK(onFileChooser), nullptr);
  g_signal_connect(view_, "run-color-chooser", G_CALLBACK(onColorChooser), nullptr);
  g_signal_connect(view_, "show-notification", G_CALLBACK(onNotification), nullptr);
  g_signal_connect(view_, "create", G_CALLBACK(onCreate), nullptr);
  // TLS failures need nothing: WebKitGTK asks nothing and shows its error page.
}

std::string Browser::address() const {
  const gchar* uri = webkit_web_view_get_uri(asView(view_));
  return uri != nullptr ? uri : "";
}

void Browser::onLoadEvent(int event) {
  switch (event) {
    case WEBKIT_LOAD_STARTED:
      committed_ = false;
      g_object_set_data(G_OBJECT(view_), kAwaitingNewPageKey, GINT_TO_POINTER(1));
      watchLoad(headLimit_);
      break;
    case WEBKIT_LOAD_REDIRECTED:
      watchLoad(headLimit_);  // an answer, if only to go elsewhere
      break;
    case WEBKIT_LOAD_COMMITTED: {
      committed_ = true;
      g_object_set_data(G_OBJECT(view_), kAwaitingNewPageKey, nullptr);
      watchLoad(progressLimit_);
      // Committed is the engine's navigate-complete: the new document's
      // address is final and the document begins; images and scripts may
      // still be loading.
      const gchar* uri = webkit_web_view_get_uri(asView(view_));
      onCommitted(uri != nullptr ? uri : "");
      break;
    }
    case WEBKIT_LOAD_FINISHED:
    default:
      g_object_set_data(G_OBJECT(view_), kAwaitingNewPageKey, nullptr);
      unwatchLoad();
      break;
  }
}

void Browser::watchLoad(std::chrono::milliseconds limit) {
  unwatchLoad();
  stallTimer_ = g_timeout_add(
      static_cast<guint>(limit.count()),
      +[](gpointer self) -> gboolean {
        auto* browser = static_cast<Browser*>(self);
        browser->stallTimer_ = 0;
        browser->onLoadStalled();
        return G_SOURCE_REMOVE;
      },
      this);
}

void Browser::unwatchLoad() {
  if (stallTimer_ != 0) g_source_remove(stallTimer_);
  stallTimer_ = 0;
}

void Browser::onLoadStalled() {
  g_object_set_data(G_OBJECT(view_), kAwaitingNewPageKey, nullptr);
  WebKitWebView* view = asView(view_);
  if (!webkit_web_view_is_loading(view)) return;
  // The message replaces the load, under its address, so that choosing the
  // exam again (or 重新考试) asks the site anew.
  const std::string address = this->address().empty() ? lastRequested_ : this->address();
  failedAddress_ = address;
  webkit_web_view_load_alternate_html(view, unreachablePageHtml(address, kNoAnswerTitle).c_str(),
                                      address.c_str(), nullptr);
}

void Browser::onCommitted(const std::string& address) {
  // The message about an address that failed is no navigation to it: a
  // failed score page must not resize the browser as the real one does.
  if (failedAddress_ && *failedAddress_ == address) {
    failedAddress_.reset();
    return;
  }
  navigated_(address);
}

bool Browser::onLoadFailed(const std::string& address, const GError* error) {
  // A load replaced by another one, or handed elsewhere, is no failure to show.
  if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
      g_error_matches(error, WEBKIT_POLICY_ERROR,
                      WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
      g_error_matches(error, WEBKIT_PLUGIN_ERROR, WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD)) {
    return false;
  }
  // The load is over; a cancelled one above was replaced by the next load,
  // whose own events watch it.
  g_object_set_data(G_OBJECT(view_), kAwaitingNewPageKey, nullptr);
  unwatchLoad();
  // The message itself could not be shown: leave it to the engine, once.
  if (failedAddress_ && *failedAddress_ == address) return false;
  // The engine's own error page would lie outside the cut-out; the message is
  // placed inside it. Under the failed address, so that choosing the exam
  // again (or 重新考试) loads that address anew.
  failedAddress_ = address;
  webkit_web_view_load_alternate_html(asView(view_), unreachablePageHtml(address).c_str(),
                                      address.c_str(), nullptr);
  return true;
}

void Browser::navigate(const std::string& address) {
  lastRequested_ = address;
  failedAddress_.reset();
  // The user's own choice of a page gets the engine's restarts anew.
  recoveries_ = 0;
  gaveUp_ = false;
  WebKitWebView* view = asView(view_);
  if (isFailedSiteAddress(address)) {
    // The program's own site is not there (and the engine refuses the port
    // that stands for it): the message, at once.
    failedAddress_ = address;
    webkit_web_view_load_alternate_html(view, unreachablePageHtml(address).c_str(), address.c_str(),
                                        nullptr);
    return;
  }
  if (!webkit_web_view_get_is_web_process_responsive(view)) {
    // The page's own script keeps its process busy: it would never even start
    // the new load. Replace the process instead of waiting for it.
    replaceWebProcess();
    return;
  }
  if (address == this->address()) {
    // The same address again means "load it anew" (a retake starts the exam
    // over): nothing may come from a cache.
    webkit_web_view_reload_bypass_cache(view);
  } else {
    webkit_web_view_load_uri(view, address.c_str());
  }
  startProbe();
}

void Browser::replaceWebProcess() {
  stopProbe();
  webkit_web_view_terminate_web_process(asView(view_));
  webkit_web_view_load_uri(asView(view_), lastRequested_.c_str());
}

// The engine only notices an unresponsive web process when it next needs an
// answer from it, so after each navigation request the layer asks a trivial
// question itself; no answer in time means the process is hung.
void Browser::startProbe() {
  stopProbe();
  probe_.reset(g_cancellable_new());
  webkit_web_view_evaluate_javascript(
      asView(view_), "0", -1, nullptr, nullptr, probe_.get(),
      +[](GObject* view, GAsyncResult* result, gpointer self) {
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
        if (value != nullptr) g_object_unref(value);
        const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        if (error != nullptr) g_error_free(error);
        // A cancelled probe belongs to a Browser that moved on or is gone.
        if (!cancelled) static_cast<Browser*>(self)->onProbeAnswered(view, result);
      },
      this);
  probeTimer_ = g_timeout_add(
      static_cast<guint>(kProbeTimeout.count()),
      +[](gpointer self) -> gboolean {
        auto* browser = static_cast<Browser*>(self);
        browser->probeTimer_ = 0;
        browser->replaceWebProcess();
        return G_SOURCE_REMOVE;
      },
      this);
}

void Browser::onProbeAnswered(GObject*, GAsyncResult*) {
  // Any answer, even an error from a page that is being replaced, shows the
  // process is alive.
  if (probeTimer_ != 0) {
    g_source_remove(probeTimer_);
    probeTimer_ = 0;
  }
  probe_.reset();
}

void Browser::stopProbe() {
  if (probeTimer_ != 0) {
    g_source_remove(probeTimer_);
    probeTimer_ = 0;
  }
  if (probe_) {
    g_cancellable_cancel(probe_.get());
    probe_.reset();
  }
}

void Browser::onTerminated(int reason) {
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;  // replaced on purpose
  stopProbe();
  unwatchLoad();
  g_object_set_data(G_OBJECT(view_), kAwaitingNewPageKey, nullptr);
  const auto now = std::chrono::steady_clock::now();
  if (now - recoveryWindowStart_ > std::chrono::seconds(30)) {
    recoveryWindowStart_ = now;
    recoveries_ = 0;
  }
  if (recoveries_ >= 3) {
    // It crashes on every load: no more restarts, but the view must not keep
    // a frozen picture of the page either. The message, under the address,
    // says so and how to get back; once, should even that fail.
    if (std::exchange(gaveUp_, true)) return;
    ui_.post([alive = std::weak_ptr<bool>(alive_), this] {
      if (auto flag = alive.lock(); !flag || !*flag) return;
      const std::string address = this->address().empty() ? lastRequested_ : this->address();
      failedAddress_ = address;
      webkit_web_view_load_alternate_html(
          asView(view_),
          unreachablePageHtml(address, kEngineGaveUpTitle, kEngineGaveUpAdvice).c_str(),
          address.c_str(), nullptr);
    });
    return;
  }
  ++recoveries_;
  // Load outside the signal: the engine is still tearing the old process down.
  ui_.post([alive = std::weak_ptr<bool>(alive_), this] {
    if (auto flag = alive.lock(); !flag || !*flag) return;
    if (!address().empty()) {
      // The page shown is fetched anew, as a retake would.
      webkit_web_view_reload_bypass_cache(asView(view_));
    } else if (!lastRequested_.empty()) {
      webkit_web_view_load_uri(asView(view_), lastRequested_.c_str());
    }
  });
}

}  // namespace zandrel
