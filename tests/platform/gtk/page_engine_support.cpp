#include "page_engine_support.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "page/web_page.h"

namespace zandrel::testing {

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Ticks every 10 ms on the UI thread and keeps the largest gap between ticks.
class Heartbeat {
 public:
  Heartbeat() : last_(Clock::now()) { source_ = g_timeout_add(10, &Heartbeat::tick, this); }
  ~Heartbeat() { g_source_remove(source_); }
  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;
  double largestGapMs() const { return std::max(largest_, millisecondsSince(last_)); }

 private:
  static gboolean tick(gpointer self) {
    auto& beat = *static_cast<Heartbeat*>(self);
    beat.largest_ = std::max(beat.largest_, millisecondsSince(beat.last_));
    beat.last_ = Clock::now();
    return G_SOURCE_CONTINUE;
  }
  guint source_ = 0;
  Clock::time_point last_;
  double largest_ = 0;
};

gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer messages) {
  std::string entry = webkit_user_message_get_name(message);
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (parameters != nullptr && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
    const char* address = nullptr;
    g_variant_get(parameters, "(&s)", &address);
    entry += std::string(" ") + address;
  }
  static_cast<std::vector<std::string>*>(messages)->push_back(entry);
  return TRUE;
}

}  // namespace

bool runUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    if (!g_main_context_pending(nullptr)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void runFor(int ms) {
  runUntil([] { return false; }, ms);
}

EngineWindow::EngineWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window_), 900, 700);
  outer_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* layout = gtk_layout_new(nullptr, nullptr);
  gtk_widget_set_size_request(layout, 880, 680);
  view_ = WEBKIT_WEB_VIEW(webkit_web_view_new());
  gtk_widget_set_size_request(GTK_WIDGET(view_), 1200, 900);
  gtk_layout_put(GTK_LAYOUT(layout), GTK_WIDGET(view_), -100, -50);
  gtk_box_pack_start(GTK_BOX(outer_), gtk_label_new("above"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(outer_), layout, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window_), outer_);
  g_signal_connect(view_, "user-message-received", G_CALLBACK(onUserMessage), &messages);
  gtk_widget_show_all(window_);
}

EngineWindow::~EngineWindow() {
  g_signal_handlers_disconnect_by_data(view_, &messages);
  gtk_widget_destroy(window_);
  runFor(50);
}

bool EngineWindow::load(const std::string& address, int timeoutMs) {
  bool finished = false;
  const gulong handler = g_signal_connect(
      view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
        if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
      }),
      &finished);
  webkit_web_view_load_uri(view_, address.c_str());
  const bool ok = runUntil([&] { return finished; }, timeoutMs);
  g_signal_handler_disconnect(view_, handler);
  return ok;
}

bool EngineWindow::loadHtml(const std::string& html, const std::string& base, int timeoutMs) {
  bool finished = false;
  const gulong handler = g_signal_connect(
      view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
        if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
      }),
      &finished);
  webkit_web_view_load_html(view_, html.c_str(), base.c_str());
  const bool ok = runUntil([&] { return finished; }, timeoutMs);
  g_signal_handler_disconnect(view_, handler);
  return ok;
}

bool EngineWindow::resizeView(int width, int height) {
  gtk_widget_set_size_request(GTK_WIDGET(view_), width, height);
  const std::string want = std::to_string(width) + "x" + std::to_string(height);
  return runUntil([&] { return evaluate("window.innerWidth + 'x' + window.innerHeight") == want; },
                  5000);
}

std::string EngineWindow::evaluate(const std::string& script, int timeoutMs) {
  struct Result {
    bool done = false;
    std::string text;
  } result;
  webkit_web_view_evaluate_javascript(
      view_, script.c_str(), -1, nullptr, nullptr, nullptr,
      +[](GObject* source, GAsyncResult* async, gpointer data) {
        auto& out = *static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), async, &error);
        if (value != nullptr) {
          char* text = jsc_value_to_string(value);
          out.text = text != nullptr ? text : "";
          g_free(text);
          g_object_unref(value);
        } else {
          out.text = std::string("error: ") + (error != nullptr ? error->message : "?");
          g_clear_error(&error);
        }
        out.done = true;
      },
      &result);
  runUntil([&] { return result.done; }, timeoutMs);
  return result.text;
}

Read EngineWindow::read(WindowHandle handle, const std::string& key, int skip, bool onUiThread) {
  Read result;
  const Heartbeat heartbeat;
  const auto start = Clock::now();
  auto readPage = [handle, key, skip] {
    WebPage page;
    page.attach(handle);
    return page.divInnerHtml(key, skip);
  };
  if (onUiThread) {
    result.text = readPage();
  } else {
    std::atomic<bool> done{false};
    std::thread reader([&] {
      result.text = readPage();
      done = true;
    });
    runUntil([&] { return done.load(); }, 30000);
    reader.join();
  }
  result.ms = millisecondsSince(start);
  // One more tick shows whether the UI thread was held right at the end.
  runFor(15);
  result.largestGapMs = heartbeat.largestGapMs();
  return result;
}

std::string fixtureAddress(const std::string& file) {
  return std::string("file://") + ZANDREL_PAGE_FIXTURES + "/" + file;
}

}  // namespace zandrel::testing
