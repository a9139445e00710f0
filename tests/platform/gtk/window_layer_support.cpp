// Before Xlib, whose macros (Success, None, Status) clash with names in these.
#include "window_layer_support.h"
#include "site_http_server.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <condition_variable>
#include <cstdlib>
#include <stdexcept>

namespace zandrel::testing {
namespace {

constexpr const char* kPlainPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>plain</title></head>"
    "<body style='margin:0;background:#fff'><p>page</p></body></html>";

// The page's script blocks its web process for good once the page is shown.
constexpr const char* kHangingPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>hang</title></head><body>"
    "<script>addEventListener('load', () => setTimeout(() => { for (;;) {} }, 200));</script>"
    "</body></html>";

constexpr const char* kDialogPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>dialogs</title></head><body>"
    "<script>addEventListener('load', () => {"
    "  alert('alert');"
    "  const c = confirm('confirm');"
    "  const p = prompt('prompt', 'default');"
    "  const w = window.open('about:blank', '_blank');"
    "  document.title = 'confirm=' + c + ' prompt=' + p + ' open=' + (w === null);"
    "});</script></body></html>";

}  // namespace

TestServer::TestServer() {
  const std::map<std::string, const char*> pages = {{"/a/", kPlainPage},
                                                    {"/b/", kPlainPage},
                                                    {"/hang/", kHangingPage},
                                                    {"/dialogs/", kDialogPage}};
  server_ = std::make_unique<site::HttpServer>(
      [this, pages](const site::SiteRequest& request, site::SiteResponse& response) {
        const auto page = pages.find(request.path);
        if ((request.method != "GET" && request.method != "HEAD") || page == pages.end()) {
          response.status = 404;
          return;
        }
        {
          std::lock_guard lock(mutex_);
          ++requests_[request.path];
        }
        response.headers.emplace_back("Cache-Control", "max-age=3600");  // a reload must bypass it
        response.contentType = "text/html; charset=utf-8";
        response.body = page->second;
      },
      nullptr);
  // The socket listens once bound: requests queue until the server accepts them.
  std::string reason;
  if (!server_->bind("127.0.0.1", 0, reason) || !server_->start())
    throw std::runtime_error("the test server cannot serve: " + reason);
}

TestServer::~TestServer() {
  server_->stop();
}

std::string TestServer::address(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(server_->port()) + path;
}

int TestServer::requests(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = requests_.find(path);
  return it != requests_.end() ? it->second : 0;
}

WindowDesign mainDesign(const std::string& url) {
  WindowDesign d;
  d.name = "MainWindow";
  d.caption = "Zandrel【PC语音读题版】含 科目一 科目四";
  d.width = 966;
  d.height = 623;
  auto add = [&d](const char* name, ControlKind kind, const char* parent, int left, int top,
                  int width, int height) -> ControlDesign& {
    ControlDesign c;
    c.name = name;
    c.kind = kind;
    c.parent = parent;
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    d.controls.push_back(c);
    return d.controls.back();
  };
  add("图片框1", ControlKind::PicBox, "MainWindow", 0, 0, 960, 588);
  ControlDesign& browser =
      add("超文本浏览框1", ControlKind::HtmlViewer, "图片框1", -517, -232, 2000, 2800);
  browser.url = url;
  browser.silent = true;
  add("透明标签1", ControlKind::TransLabel, "MainWindow", 240, -16, 120, 16);
  add("标签1", ControlKind::Label, "MainWindow", 192, -40, 216, 24);
  d.menus.push_back({"菜单", {"科目一全真模拟考试", "科目四全真模拟考试", "重新考试", "退出软件"}});
  d.menus.push_back({"语音读题(F1键)", {"语音播报"}});
  return d;
}

void onUi(const std::function<void()>& fn) {
  struct Call {
    const std::function<void()>* fn;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
  } call{&fn, {}, {}, false};
  g_main_context_invoke(
      nullptr,
      +[](gpointer data) -> gboolean {
        auto* c = static_cast<Call*>(data);
        (*c->fn)();
        // Notified under the lock: the waiter owns `c` and may return (and
        // destroy it) as soon as it sees `finished`.
        std::lock_guard lock(c->mutex);
        c->finished = true;
        c->done.notify_all();
        return G_SOURCE_REMOVE;
      },
      &call);
  std::unique_lock lock(call.mutex);
  call.done.wait(lock, [&] { return call.finished; });
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

GtkWindow* toplevelWithTitle(const std::string& title) {
  GList* all = gtk_window_list_toplevels();
  GtkWindow* found = nullptr;
  for (GList* it = all; it != nullptr; it = it->next) {
    auto* window = GTK_WINDOW(it->data);
    const gchar* t = gtk_window_get_title(window);
    if (t != nullptr && title == t && gtk_widget_get_visible(GTK_WIDGET(window))) found = window;
  }
  g_list_free(all);
  return found;
}

XView::XView() {
  display_ = XOpenDisplay(nullptr);
}

XView::~XView() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

Rect XView::outer(unsigned long client) {
  Window current = client;
  for (;;) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display_, current, &root, &parent, &children, &count) == 0) return {};
    if (children != nullptr) XFree(children);
    if (parent == root || parent == 0) break;
    current = parent;
  }
  XWindowAttributes a{};
  XGetWindowAttributes(display_, current, &a);
  return {a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width};
}

int XView::screenWidth() {
  return DisplayWidth(display_, DefaultScreen(display_));
}
int XView::screenHeight() {
  return DisplayHeight(display_, DefaultScreen(display_));
}

void XView::sendToRoot(unsigned long client, const char* message, long a, long b, long c) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = client;
  event.xclient.message_type = XInternAtom(display_, message, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = a;
  event.xclient.data.l[1] = b;
  event.xclient.data.l[2] = c;
  event.xclient.data.l[3] = 1;
  XSendEvent(display_, DefaultRootWindow(display_), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display_);
}

void XView::requestClose(unsigned long client) {
  sendToRoot(client, "_NET_CLOSE_WINDOW", 0, 1, 0);
}

void XView::requestMaximise(unsigned long client) {
  sendToRoot(client, "_NET_WM_STATE", 1,
             static_cast<long>(XInternAtom(display_, "_NET_WM_STATE_MAXIMIZED_VERT", False)),
             static_cast<long>(XInternAtom(display_, "_NET_WM_STATE_MAXIMIZED_HORZ", False)));
}

void XView::requestFullscreen(unsigned long client) {
  sendToRoot(client, "_NET_WM_STATE", 1,
             static_cast<long>(XInternAtom(display_, "_NET_WM_STATE_FULLSCREEN", False)), 0);
}

void XView::requestResize(unsigned long client, int width, int height) {
  XResizeWindow(display_, client, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFlush(display_);
}

unsigned long xidOf(WindowHandle window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(reinterpret_cast<GtkWidget*>(window));
  return gdkWindow != nullptr ? GDK_WINDOW_XID(gdkWindow) : 0;
}

int run(const std::string& command) {
  return std::system(command.c_str());
}

}  // namespace zandrel::testing
