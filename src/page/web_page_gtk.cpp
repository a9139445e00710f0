#include "page/web_page_gtk.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "page/dom_search.h"
#include "page/gobject_ptr_gtk.h"
#include "page/page_messages_gtk.h"

namespace zandrel {

namespace {

namespace msg = page_messages;
using Clock = std::chrono::steady_clock;

// How long one read of the page may take before the reader gives up.
constexpr int kReadTimeoutMs = 1500;
// processWaitingMessages dispatches at most this many events, so a source that
// is always ready cannot hold the caller forever.
constexpr int kMaxDispatches = 1000;

// The UI thread and its main context. Everything that touches GTK or WebKit
// runs there: a call from another thread is queued to it and waited for, with
// a time limit, the way a cross-apartment call is on Windows. Shared, so that
// queued work never outlives what it refers to.
class UiThread {
 public:
  UiThread()
      : id_(std::this_thread::get_id()), context_(g_main_context_ref(g_main_context_default())) {}
  ~UiThread() { g_main_context_unref(context_); }
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  bool current() const { return std::this_thread::get_id() == id_; }
  GMainContext* context() const { return context_; }

  // Queues `work` to run on the UI thread at its next iteration.
  void post(std::function<void()> work) const {
    auto owned = std::make_unique<Posted>();
    owned->work = std::move(work);
    // GLib's own locking hands the work over; this makes the hand-over
    // visible to race detectors, which cannot see GLib's futex-based locks.
    owned->published.store(true, std::memory_order_release);
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, &UiThread::runPosted, owned.release(), &UiThread::dropPosted);
    g_source_attach(source, context_);
    g_source_unref(source);
  }

  // Runs `work` on the UI thread and waits until it has run, at most until
  // `deadline`. Directly when already on the UI thread. nullopt when the UI
  // thread did not get to it in time; it then never runs.
  template <class R>
  std::optional<R> call(std::function<R()> work, Clock::time_point deadline) const {
    if (current()) return work();
    struct Call {
      std::mutex mutex;
      std::condition_variable finished;
      bool abandoned = false;
      std::optional<R> result;
    };
    auto shared = std::make_shared<Call>();
    post([shared, work = std::move(work)] {
      std::unique_lock lock(shared->mutex);
      if (shared->abandoned) return;
      // Held while the work runs: a caller that gives up waits for a
      // started call to finish rather than leave it half done.
      shared->result = work();
      shared->finished.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    if (!shared->finished.wait_until(lock, deadline, [&] { return shared->result.has_value(); })) {
      shared->abandoned = true;
      return std::nullopt;
    }
    return std::move(shared->result);
  }

 private:
  struct Posted {
    std::function<void()> work;
    std::atomic<bool> published{false};
  };
  static gboolean runPosted(gpointer data) {
    auto& posted = *static_cast<Posted*>(data);
    if (posted.published.load(std::memory_order_acquire)) posted.work();
    return G_SOURCE_REMOVE;
  }
  static void dropPosted(gpointer data) {
    const std::unique_ptr<Posted> owned(static_cast<Posted*>(data));
  }

  std::thread::id id_;
  GMainContext* context_;
};

// --- The widget tree, UI thread only ---------------------------------------

void collectChild(GtkWidget* child, gpointer children) {
  static_cast<std::vector<GtkWidget*>*>(children)->push_back(child);
}

// Every child, internal ones included: where an engine view sits inside a
// composite widget is the widget's business, the search must still find it.
std::vector<GtkWidget*> childrenOf(GtkWidget* widget) {
  std::vector<GtkWidget*> children;
  if (GTK_IS_CONTAINER(widget))
    gtk_container_forall(GTK_CONTAINER(widget), collectChild, &children);
  return children;
}

bool contains(GtkWidget* root, GtkWidget* candidate) {
  if (root == candidate) return true;
  for (GtkWidget* child : childrenOf(root)) {
    if (contains(child, candidate)) return true;
  }
  return false;
}

// The live widget a handle names, or nullptr. The handle is only compared,
// never followed, until it is found among the widgets that exist: a handle
// can outlive its widget.
GtkWidget* liveWidget(WindowHandle handle) {
  if (handle == 0) return nullptr;
  auto* candidate = reinterpret_cast<GtkWidget*>(handle);
  GList* toplevels = gtk_window_list_toplevels();
  bool found = false;
  for (GList* item = toplevels; item != nullptr && !found; item = item->next) {
    found = contains(static_cast<GtkWidget*>(item->data), candidate);
  }
  g_list_free(toplevels);
  return found ? candidate : nullptr;
}

WindowHandle handleOf(GtkWidget* widget) {
  return reinterpret_cast<WindowHandle>(widget);
}

// --- Messages to the extension ----------------------------------------------

// A web view that may go away while a read is under way.
struct ViewRef {
  explicit ViewRef(WebKitWebView* view) { g_weak_ref_init(&ref, view); }
  ~ViewRef() { g_weak_ref_clear(&ref); }
  ViewRef(const ViewRef&) = delete;
  ViewRef& operator=(const ViewRef&) = delete;
  glib::Object<WebKitWebView> get() {
    return glib::Object<WebKitWebView>(static_cast<WebKitWebView*>(g_weak_ref_get(&ref)));
  }
  GWeakRef ref;
};

using SharedVariant = std::shared_ptr<GVariant>;

SharedVariant share(GVariant* variant) {
  if (variant == nullptr) return nullptr;
  return SharedVariant(g_variant_ref_sink(variant), g_variant_unref);
}

// One question to the extension and its answer. A reader that stops waiting
// marks it abandoned and cancels it; a late answer then only lands here.
struct PendingReply {
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;
  bool abandoned = false;
  SharedVariant reply;
  glib::Object<GCancellable> cancellable{g_cancellable_new()};

  void finish(SharedVariant answer) {
    const std::lock_guard lock(mutex);
    if (!abandoned) reply = std::move(answer);
    done = true;
    answered.notify_all();
  }
};

void onReply(GObject* source, GAsyncResult* result, gpointer data) {
  const std::unique_ptr<std::shared_ptr<PendingReply>> pending(
      static_cast<std::shared_ptr<PendingReply>*>(data));
  GError* rawError = nullptr;
  WebKitUserMessage* message =
      webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(source), result, &rawError);
  const glib::Error error(rawError);
  if (message != nullptr && g_object_is_floating(message)) g_object_ref_sink(message);
  const glib::Object<WebKitUserMessage> owned(message);
  SharedVariant answer;
  if (owned) {
    if (GVariant* parameters = webkit_user_message_get_parameters(owned.get())) {
      answer = SharedVariant(g_variant_ref(parameters), g_variant_unref);
    }
  }
  (*pending)->finish(std::move(answer));
}

// Sends a message to the view's page and waits for the reply until the
// deadline. On the UI thread the wait runs the main context, so the window
// keeps painting and other callers keep being served; elsewhere the UI thread
// does the sending. The reply's parameters, or nullptr.
SharedVariant ask(const std::shared_ptr<const UiThread>& ui, const std::shared_ptr<ViewRef>& view,
                  const char* name, SharedVariant parameters, Clock::time_point deadline) {
  auto pending = std::make_shared<PendingReply>();
  auto send = [pending, view, name, parameters] {
    {
      const std::lock_guard lock(pending->mutex);
      if (pending->abandoned) return;
    }
    const glib::Object<WebKitWebView> webView = view->get();
    if (!webView) {
      pending->finish(nullptr);
      return;
    }
    auto owner = std::make_unique<std::shared_ptr<PendingReply>>(pending);
    webkit_web_view_send_message_to_page(webView.get(),
                                         webkit_user_message_new(name, parameters.get()),
                                         pending->cancellable.get(), onReply, owner.release());
  };

  if (ui->current()) {
    send();
    // Wakes the loop at the deadline even when nothing else happens.
    GSource* timer = g_timeout_source_new(static_cast<guint>(std::max<Clock::rep>(
        0,
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count())));
    g_source_set_callback(
        timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timer, ui->context());
    for (;;) {
      {
        const std::lock_guard lock(pending->mutex);
        if (pending->done) break;
      }
      if (Clock::now() >= deadline) break;
      g_main_context_iteration(ui->context(), TRUE);
    }
    g_source_destroy(timer);
    g_source_unref(timer);
  } else {
    ui->post(send);
  }

  std::unique_lock lock(pending->mutex);
  pending->answered.wait_until(lock, deadline, [&] { return pending->done; });
  if (pending->done) return pending->reply;
  pending->abandoned = true;
  lock.unlock();
  ui->post([pending] { g_cancellable_cancel(pending->cancellable.get()); });
  return nullptr;
}

// The document of a web view's page. The reads the page object makes run in
// one step inside the web process (divInnerHtml); single property reads and
// calls from here are not offered and yield empty values.
class RemoteDocument : public AutomationObject {
 public:
  RemoteDocument(std::shared_ptr<const UiThread> ui, std::shared_ptr<ViewRef> view,
                 std::uint64_t identity)
      : ui_(std::move(ui)), view_(std::move(view)), identity_(identity) {}

  std::string getText(std::string_view) override { return {}; }
  double getNumber(std::string_view) override { return 0.0; }
  ObjectRef getObject(std::string_view) override { return nullptr; }
  ObjectRef call(std::string_view, const Argument&) override { return nullptr; }

  std::optional<std::string> divInnerHtml(std::string_view key, int skip,
                                          dom::SearchTrace& trace) override {
    GVariant* keyBytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, key.data(), key.size(), 1);
    const SharedVariant reply =
        ask(ui_, view_, msg::kDivInnerHtml,
            share(g_variant_new(msg::kDivInnerHtmlFormat, identity_, keyBytes, skip)),
            Clock::now() + std::chrono::milliseconds(kReadTimeoutMs));
    if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE(msg::kDivInnerHtmlReplyType))) {
      trace.cause = dom::SearchTrace::kTimedOut;
      return std::string();
    }
    g_variant_get(reply.get(), msg::kDivInnerHtmlReplyType, nullptr, &trace.visited, &trace.match,
                  &trace.by, &trace.cause);
    const glib::Variant text(g_variant_get_child_value(reply.get(), 0));
    gsize size = 0;
    const auto* data =
        static_cast<const char*>(g_variant_get_fixed_array(text.get(), &size, sizeof(char)));
    return data != nullptr ? std::string(data, size) : std::string();
  }

 private:
  std::shared_ptr<const UiThread> ui_;
  std::shared_ptr<ViewRef> view_;
  std::uint64_t identity_;
};

class GtkPageBridge : public PageBridge {
 public:
  explicit GtkPageBridge(const std::string& extensionDirectory)
      : ui_(std::make_shared<const UiThread>()) {
    webkit_web_context_set_web_extensions_directory(webkit_web_context_get_default(),
                                                    extensionDirectory.c_str());
  }

  bool isWindow(WindowHandle window) override {
    return ui_->call<bool>([window] { return liveWidget(window) != nullptr; }, callDeadline())
        .value_or(false);
  }

  WindowHandle nextChild(WindowHandle parent, WindowHandle after) override {
    const auto next = ui_->call<WindowHandle>(
        [parent, after]() -> WindowHandle {
          GtkWidget* widget = liveWidget(parent);
          if (widget == nullptr) return 0;
          const std::vector<GtkWidget*> children = childrenOf(widget);
          if (after == 0) return children.empty() ? 0 : handleOf(children.front());
          for (std::size_t i = 0; i + 1 < children.size(); ++i) {
            if (handleOf(children[i]) == after) return handleOf(children[i + 1]);
          }
          return 0;
        },
        callDeadline());
    return next.value_or(0);
  }

  std::string className(WindowHandle window) override {
    const auto name = ui_->call<std::string>(
        [window]() -> std::string {
          GtkWidget* widget = liveWidget(window);
          if (widget == nullptr) return {};
          return std::string(G_OBJECT_TYPE_NAME(widget)).substr(0, 49);
        },
        callDeadline());
    return name.value_or(std::string());
  }

  // Other threads have no messages of their own to process in GTK.
  void processWaitingMessages() override {
    if (!ui_->current()) return;
    for (int i = 0; i < kMaxDispatches && g_main_context_pending(ui_->context()); ++i) {
      g_main_context_iteration(ui_->context(), FALSE);
    }
  }

  std::string_view documentWindowClass() const override { return kGtkDocumentWindowClass; }

  // GTK has no per-thread initialisation to hold.
  void enterApartment() override {}
  void leaveApartment() override {}

  ObjectRef documentFromWindow(WindowHandle documentWindow, int timeoutMs) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    const auto view = ui_->call<std::shared_ptr<ViewRef>>(
        [documentWindow]() -> std::shared_ptr<ViewRef> {
          GtkWidget* widget = liveWidget(documentWindow);
          if (widget == nullptr || !WEBKIT_IS_WEB_VIEW(widget)) return nullptr;
          return std::make_shared<ViewRef>(WEBKIT_WEB_VIEW(widget));
        },
        deadline);
    if (!view || !*view) return nullptr;
    const SharedVariant reply = ask(ui_, *view, msg::kDocumentQuery, nullptr, deadline);
    if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE(msg::kDocumentReplyType))) {
      return nullptr;
    }
    gboolean hasDocument = FALSE;
    guint64 identity = 0;
    g_variant_get(reply.get(), msg::kDocumentReplyType, &hasDocument, &identity);
    if (!hasDocument) return nullptr;
    return std::make_shared<RemoteDocument>(ui_, *view, identity);
  }

 private:
  // A UI thread that does not serve a single window-tree question within a
  // second is treated as hung, as the document request is.
  static Clock::time_point callDeadline() { return Clock::now() + std::chrono::seconds(1); }

  std::shared_ptr<const UiThread> ui_;
};

}  // namespace

std::string programPageExtensionDirectory() {
  const glib::String program(g_file_read_link("/proc/self/exe", nullptr));
  if (!program) return "webext";
  const glib::String directory(g_path_get_dirname(program.get()));
  // A build tree keeps the extension beside the program; an installed program
  // has it in its private library directory.
  const glib::String beside(g_build_filename(directory.get(), "webext", nullptr));
  if (g_file_test(beside.get(), G_FILE_TEST_IS_DIR)) return beside.get();
  const glib::String installed(
      g_build_filename(directory.get(), ZANDREL_INSTALLED_WEBEXT_DIR, nullptr));
  return installed.get();
}

std::unique_ptr<PageBridge> createGtkPageBridge() {
  return createGtkPageBridge(programPageExtensionDirectory());
}

std::unique_ptr<PageBridge> createGtkPageBridge(const std::string& extensionDirectory) {
  return std::make_unique<GtkPageBridge>(extensionDirectory);
}

}  // namespace zandrel
