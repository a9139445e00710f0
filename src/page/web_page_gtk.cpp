#include "page/web_page_gtk.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "page/dom_search.h"
#include "page/gobject_ptr_gtk.h"
#include "page/page_messages_gtk.h"
#include "runtime/ui_dispatcher.h"
#include "runtime/window_layer_gtk.h"

namespace zandrel {

namespace {

namespace msg = page_messages;
using Clock = UiDispatcher::Clock;

// How long one read of the page may take before the reader gives up.
constexpr int kReadTimeoutMs = 1500;
// processWaitingMessages dispatches at most this many events, so a source that
// is always ready cannot hold the caller forever.
constexpr int kMaxDispatches = 1000;

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
  {
    // The reader gave up on it: dropped unread.
    const std::lock_guard lock((*pending)->mutex);
    if ((*pending)->abandoned) {
      (*pending)->done = true;
      return;
    }
  }
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
SharedVariant ask(const std::shared_ptr<UiDispatcher>& ui, const std::shared_ptr<ViewRef>& view,
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

  if (ui->onUiThread()) {
    send();
    // Wakes the loop at the deadline even when nothing else happens.
    GSource* timer = g_timeout_source_new(static_cast<guint>(std::max<Clock::rep>(
        0,
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count())));
    g_source_set_callback(
        timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timer, nullptr);
    for (;;) {
      {
        const std::lock_guard lock(pending->mutex);
        if (pending->done) break;
      }
      if (Clock::now() >= deadline) break;
      g_main_context_iteration(nullptr, TRUE);
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
//
// While the view still loads, a read that finds nothing says the page is
// loading; while it still shows the page before the one asked for, nothing
// of that earlier page is read at all.
class RemoteDocument : public AutomationObject {
 public:
  enum class Load { kDone, kLoading, kAwaitingNewPage };
  RemoteDocument(std::shared_ptr<UiDispatcher> ui, std::shared_ptr<ViewRef> view,
                 std::uint64_t identity, Load load)
      : ui_(std::move(ui)), view_(std::move(view)), identity_(identity), load_(load) {}

  std::string getText(std::string_view) override { return {}; }
  double getNumber(std::string_view) override { return 0.0; }
  ObjectRef getObject(std::string_view) override { return nullptr; }
  ObjectRef call(std::string_view, const Argument&) override { return nullptr; }

  std::optional<std::string> divInnerHtml(std::string_view key, int skip,
                                          dom::SearchTrace& trace) override {
    if (load_ == Load::kAwaitingNewPage) {
      trace.cause = dom::SearchTrace::kLoading;
      return std::string();
    }
    std::string text = ask(key, skip, trace);
    if (text.empty() && load_ == Load::kLoading) trace.cause = dom::SearchTrace::kLoading;
    return text;
  }

 private:
  std::string ask(std::string_view key, int skip, dom::SearchTrace& trace) {
    GVariant* keyBytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, key.data(), key.size(), 1);
    const SharedVariant reply =
        zandrel::ask(ui_, view_, msg::kDivInnerHtml,
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

  std::shared_ptr<UiDispatcher> ui_;
  std::shared_ptr<ViewRef> view_;
  std::uint64_t identity_;
  Load load_;
};

class GtkPageBridge : public PageBridge {
 public:
  GtkPageBridge(std::shared_ptr<UiDispatcher> ui, const std::string& extensionDirectory)
      : ui_(std::move(ui)) {
    webkit_web_context_set_web_extensions_directory(webkit_web_context_get_default(),
                                                    extensionDirectory.c_str());
  }

  bool isWindow(WindowHandle window) override {
    bool live = false;
    ui_->invoke([&] { live = liveWidget(window) != nullptr; }, callDeadline());
    return live;
  }

  WindowHandle nextChild(WindowHandle parent, WindowHandle after) override {
    WindowHandle next = 0;
    ui_->invoke(
        [&] {
          GtkWidget* widget = liveWidget(parent);
          if (widget == nullptr) return;
          const std::vector<GtkWidget*> children = childrenOf(widget);
          if (after == 0 && !children.empty()) next = handleOf(children.front());
          for (std::size_t i = 0; after != 0 && i + 1 < children.size(); ++i) {
            if (handleOf(children[i]) == after) next = handleOf(children[i + 1]);
          }
        },
        callDeadline());
    return next;
  }

  std::string className(WindowHandle window) override {
    std::string name;
    ui_->invoke(
        [&] {
          if (GtkWidget* widget = liveWidget(window)) name = G_OBJECT_TYPE_NAME(widget);
        },
        callDeadline());
    return name.substr(0, 49);
  }

  // Other threads have no messages of their own to process in GTK.
  void processWaitingMessages() override {
    if (!ui_->onUiThread()) return;
    for (int i = 0; i < kMaxDispatches && g_main_context_pending(nullptr); ++i) {
      g_main_context_iteration(nullptr, FALSE);
    }
  }

  std::string_view documentWindowClass() const override { return kGtkDocumentWindowClass; }

  // GTK has no per-thread initialisation to hold.
  void enterApartment() override {}
  void leaveApartment() override {}

  ObjectRef documentFromWindow(WindowHandle documentWindow, int timeoutMs) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    std::shared_ptr<ViewRef> view;
    auto load = RemoteDocument::Load::kDone;
    ui_->invoke(
        [&] {
          GtkWidget* widget = liveWidget(documentWindow);
          if (widget == nullptr || !WEBKIT_IS_WEB_VIEW(widget)) return;
          view = std::make_shared<ViewRef>(WEBKIT_WEB_VIEW(widget));
          if (g_object_get_data(G_OBJECT(widget), kAwaitingNewPageKey) != nullptr)
            load = RemoteDocument::Load::kAwaitingNewPage;
          else if (webkit_web_view_is_loading(WEBKIT_WEB_VIEW(widget)))
            load = RemoteDocument::Load::kLoading;
        },
        deadline);
    if (!view) return nullptr;
    if (load == RemoteDocument::Load::kAwaitingNewPage)
      return std::make_shared<RemoteDocument>(ui_, view, 0, load);
    const SharedVariant reply = ask(ui_, view, msg::kDocumentQuery, nullptr, deadline);
    if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE(msg::kDocumentReplyType))) {
      return nullptr;
    }
    gboolean hasDocument = FALSE;
    guint64 identity = 0;
    g_variant_get(reply.get(), msg::kDocumentReplyType, &hasDocument, &identity);
    if (!hasDocument) return nullptr;
    return std::make_shared<RemoteDocument>(ui_, view, identity, load);
  }

 private:
  // A UI thread that does not serve a single window-tree question within a
  // second is treated as hung, as the document request is.
  static Clock::time_point callDeadline() { return Clock::now() + std::chrono::seconds(1); }

  std::shared_ptr<UiDispatcher> ui_;
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

std::unique_ptr<PageBridge> createGtkPageBridge(std::shared_ptr<UiDispatcher> ui) {
  return createGtkPageBridge(std::move(ui), programPageExtensionDirectory());
}

std::unique_ptr<PageBridge> createGtkPageBridge(std::shared_ptr<UiDispatcher> ui,
                                                const std::string& extensionDirectory) {
  if (!ui) return nullptr;
  return std::make_unique<GtkPageBridge>(std::move(ui), extensionDirectory);
}

}  // namespace zandrel
