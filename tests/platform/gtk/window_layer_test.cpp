// The GTK window layer on a real X display with a window manager (run by
// window_layer_desktop.py). Each test runs the real message loop on the main
// thread and drives the window from a second thread, as the application's
// read-aloud threads do.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/window_layer_gtk.h"
#include "window_layer_support.h"

namespace zandrel {
namespace {

using namespace std::chrono_literals;
using testing::onUi;
using testing::Rect;
using testing::waitFor;

constexpr const char* kWindow = "MainWindow";
constexpr const char* kBrowser = "超文本浏览框1";
constexpr const char* kStatus = "透明标签1";
constexpr const char* kReceiver = "标签1";

// What the plain-procedure handlers see and record.
struct Recorder {
  WindowLayer* layer = nullptr;
  std::atomic<int> exitRoutines{0};
  std::atomic<int> created{0};
  std::atomic<bool> createdBeforeShown{false};
  std::atomic<int> subject1{0};
  std::atomic<int> modalResult{-100};
  std::thread::id uiThread;
  std::mutex mutex;
  std::vector<std::string> navigated;  // url() as read inside each 跳转完毕
  std::string redirectTo;              // written inside the first 跳转完毕
  std::vector<std::pair<std::uintptr_t, std::intptr_t>> notifications;
  bool notifiedOnUiThread = true;
};
Recorder* rec = nullptr;

void countExit() {
  ++rec->exitRoutines;
}

void onCreated() {
  ++rec->created;
  auto* window = reinterpret_cast<GtkWidget*>(rec->layer->windowHandle(kWindow));
  rec->createdBeforeShown = window != nullptr && !gtk_widget_get_visible(window) &&
                            rec->layer->windowHandle(kBrowser) != 0 &&
                            rec->layer->windowHandle(kReceiver) != 0;
}

void onNavigated() {
  std::lock_guard lock(rec->mutex);
  rec->navigated.push_back(rec->layer->url(kBrowser));
  if (!rec->redirectTo.empty()) {
    // A new navigation started inside the event does not change what this
    // event's url reads.
    rec->layer->setUrl(kBrowser, std::exchange(rec->redirectTo, std::string()));
    rec->navigated.push_back(rec->layer->url(kBrowser));
  }
}

void onNotify(std::uintptr_t wParam, std::intptr_t lParam) {
  std::lock_guard lock(rec->mutex);
  rec->notifications.emplace_back(wParam, lParam);
  if (std::this_thread::get_id() != rec->uiThread) rec->notifiedOnUiThread = false;
}

void onSubject1() {
  ++rec->subject1;
}

void onRetakeShowsModalBox() {
  rec->modalResult = rec->layer->messageBox("模态的框", kBoxStyleYesNo, "模态框", 0);
}

class WindowLayerGtk : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder_ = std::make_unique<Recorder>();
    rec = recorder_.get();
    layer_ = createGtkWindowLayer();
    rec->layer = layer_.get();
    rec->uiThread = std::this_thread::get_id();
    ASSERT_TRUE(layer_->initialise()) << "needs an X display";
    layer_->registerExitRoutine(countExit);
  }
  void TearDown() override {
    layer_.reset();
    rec = nullptr;
  }

  WindowDesign design(const std::string& url) {
    WindowDesign d = testing::mainDesign(url);
    d.bindings.push_back({kWindow, EventKind::CreationComplete, onCreated, nullptr});
    d.bindings.push_back({kBrowser, EventKind::Navigated, onNavigated, nullptr});
    d.bindings.push_back({kReceiver, EventKind::Notification, nullptr, onNotify});
    d.bindings.push_back({"科目一全真模拟考试", EventKind::MenuSelected, onSubject1, nullptr});
    d.bindings.push_back({"重新考试", EventKind::MenuSelected, onRetakeShowsModalBox, nullptr});
    return d;
  }

  // Runs the message loop here while `drive` runs on a thread of its own; the
  // program is ended with 99 if drive returns without ending it.
  int runDriven(const std::function<void()>& drive) {
    std::thread driver([&] {
      drive();
      layer_->endProgram(99);
    });
    const int code = layer_->messageLoop();
    driver.join();
    return code;
  }

  unsigned long mainXid() { return testing::xidOf(layer_->windowHandle(kWindow)); }

  bool navigatedTo(const std::string& address) {
    std::lock_guard lock(rec->mutex);
    return std::find(rec->navigated.begin(), rec->navigated.end(), address) != rec->navigated.end();
  }

  testing::TestServer server_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<WindowLayer> layer_;
};

TEST_F(WindowLayerGtk, CreationCompleteRunsInsideLoadWindowAndCloseBoxEndsWithZeroOnce) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  EXPECT_EQ(rec->created, 1);
  EXPECT_TRUE(rec->createdBeforeShown) << "controls exist and the window is not shown yet";
  const unsigned long xid = mainXid();

  const int code = runDriven([&] {
    testing::XView x;
    ASSERT_TRUE(waitFor([&] { return x.outer(xid).height == 623; }));
    x.requestClose(xid);  // the close box, through the window manager
    waitFor([&] { return layer_->windowHandle(kWindow) == 0; }, 3s);
    layer_->endProgram(5);  // too late: the first end stands
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(rec->exitRoutines, 1);
  EXPECT_EQ(layer_->windowHandle(kWindow), 0u) << "the window is gone after the loop";
}

TEST_F(WindowLayerGtk, EndingReleasesTheWindowAndTheBrowser) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  gpointer window = reinterpret_cast<gpointer>(layer_->windowHandle(kWindow));
  gpointer view = reinterpret_cast<gpointer>(layer_->windowHandle(kBrowser));
  g_object_add_weak_pointer(G_OBJECT(window), &window);
  g_object_add_weak_pointer(G_OBJECT(view), &view);
  runDriven([&] { std::this_thread::sleep_for(500ms); });
  layer_.reset();
  for (int i = 0; i < 100 && (window != nullptr || view != nullptr); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
  EXPECT_EQ(window, nullptr) << "the main window was finalised";
  EXPECT_EQ(view, nullptr) << "the web view was finalised";
  if (window != nullptr) g_object_remove_weak_pointer(G_OBJECT(window), &window);
  if (view != nullptr) g_object_remove_weak_pointer(G_OBJECT(view), &view);
}

TEST_F(WindowLayerGtk, EndProgramFromAnotherThreadKeepsTheFirstCode) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const int code = runDriven([&] {
    layer_->endProgram(7);
    layer_->endProgram(9);
  });
  EXPECT_EQ(code, 7);
  EXPECT_EQ(rec->exitRoutines, 1);
}

TEST_F(WindowLayerGtk, TerminationSignalEndsTheProgramCleanly) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const int code = runDriven([&] {
    testing::XView x;
    waitFor([&] { return x.outer(mainXid()).height == 623; });
    ::kill(::getpid(), SIGTERM);
    std::this_thread::sleep_for(2s);  // the loop ends by itself, not by runDriven's 99
  });
  EXPECT_EQ(code, 128 + SIGTERM);
  EXPECT_EQ(rec->exitRoutines, 1);
}

TEST_F(WindowLayerGtk, OuterGeometryIsExactAndFixed) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const unsigned long xid = mainXid();
  runDriven([&] {
    testing::XView x;
    const Rect expected{(x.screenWidth() - 966) / 2, (x.screenHeight() - 623) / 2, 966, 623};
    EXPECT_TRUE(waitFor([&] { return x.outer(xid) == expected; }))
        << "outer " << x.outer(xid).x << "," << x.outer(xid).y << " " << x.outer(xid).width << "x"
        << x.outer(xid).height;
    EXPECT_EQ(layer_->height(kWindow), 623);

    layer_->setHeight(kWindow, 555);
    EXPECT_EQ(layer_->height(kWindow), 555);
    EXPECT_TRUE(waitFor([&] {
      return x.outer(xid) == Rect{expected.x, expected.y, 966, 555};
    })) << "outer height "
        << x.outer(xid).height << ", top " << x.outer(xid).y;
    layer_->setHeight(kWindow, 623);
    EXPECT_TRUE(waitFor([&] { return x.outer(xid) == expected; }))
        << "outer height " << x.outer(xid).height;

    // Requests from outside leave it as it is.
    x.requestResize(xid, 500, 300);
    x.requestMaximise(xid);
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(x.outer(xid), expected);
    x.requestFullscreen(xid);
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(x.outer(xid), expected);
    EXPECT_EQ(layer_->height(kWindow), 623);
  });
}

TEST_F(WindowLayerGtk, BrowserHeightKeepsItsCornerAndLabelsStayAboveTheClientArea) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  auto allocation = [&](const char* name) {
    GtkAllocation a{};
    onUi([&] {
      gtk_widget_get_allocation(reinterpret_cast<GtkWidget*>(layer_->windowHandle(name)), &a);
    });
    return Rect{a.x, a.y, a.width, a.height};
  };
  runDriven([&] {
    EXPECT_TRUE(waitFor([&] { return allocation(kBrowser) == Rect{-517, -232, 2000, 2800}; }));
    layer_->setHeight(kBrowser, 810);
    EXPECT_EQ(layer_->height(kBrowser), 810);
    EXPECT_TRUE(waitFor([&] {
      return allocation(kBrowser) == Rect{-517, -232, 2000, 810};
    })) << "height "
        << allocation(kBrowser).height;
    layer_->setHeight(kBrowser, 2800);
    EXPECT_TRUE(waitFor([&] { return allocation(kBrowser) == Rect{-517, -232, 2000, 2800}; }));

    EXPECT_EQ(allocation("图片框1"), (Rect{0, 0, 960, 588}));
    // Both labels are clipped to their designed boxes, which lie wholly
    // above the client area's top edge, at every window height.
    auto box = [&](const char* name) {
      GtkAllocation a{};
      onUi([&] {
        GtkWidget* label = reinterpret_cast<GtkWidget*>(layer_->windowHandle(name));
        gtk_widget_get_allocation(gtk_widget_get_parent(label), &a);
      });
      return Rect{a.x, a.y, a.width, a.height};
    };
    for (int height : {555, 623}) {
      layer_->setHeight(kWindow, height);
      EXPECT_EQ(box(kStatus), (Rect{240, -16, 120, 16}));
      EXPECT_EQ(box(kReceiver), (Rect{192, -40, 216, 24}));
    }
    // A label taller than its box is cut at the top, never reaching below.
    const Rect status = allocation(kStatus);
    EXPECT_EQ(status.y + status.height, 16) << "label " << status.y << "+" << status.height;
  });
}

TEST_F(WindowLayerGtk, UrlInsideNavigatedIsThatNavigationsAddressAndReloadHitsTheServer) {
  const std::string a = server_.address("/a/");
  const std::string b = server_.address("/b/");
  rec->redirectTo = b;
  ASSERT_TRUE(layer_->loadWindow(design(a)));
  runDriven([&] {
    ASSERT_TRUE(waitFor([&] { return navigatedTo(b); }));
    {
      std::lock_guard lock(rec->mutex);
      ASSERT_GE(rec->navigated.size(), 3u);
      EXPECT_EQ(rec->navigated[0], a);
      EXPECT_EQ(rec->navigated[1], a) << "read after starting another navigation";
      EXPECT_EQ(rec->navigated[2], b);
    }
    EXPECT_EQ(layer_->url(kBrowser), b);

    // The page is cacheable for an hour; writing its address again must still
    // fetch it.
    const int before = server_.requests("/b/");
    layer_->setUrl(kBrowser, b);
    EXPECT_TRUE(waitFor([&] { return server_.requests("/b/") == before + 1; }))
        << server_.requests("/b/") - before << " new requests";
  });
}

TEST_F(WindowLayerGtk, HungPageDoesNotTrapTheBrowser) {
  const std::string hang = server_.address("/hang/");
  const std::string a = server_.address("/a/");
  ASSERT_TRUE(layer_->loadWindow(design(hang)));
  runDriven([&] {
    ASSERT_TRUE(waitFor([&] { return navigatedTo(hang); }));
    std::this_thread::sleep_for(1s);  // its script is spinning now
    const auto start = std::chrono::steady_clock::now();
    layer_->setUrl(kBrowser, a);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "setUrl returns at once";
    EXPECT_TRUE(waitFor([&] { return navigatedTo(a); }, 20s));
    EXPECT_GE(server_.requests("/a/"), 1);
    EXPECT_EQ(layer_->url(kBrowser), a);
  });
}

// The web content processes this test process started.
std::vector<pid_t> webProcesses() {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...
    const auto close = line.rfind(')');
    if (close == std::string::npos || line.find("(WebKitWebProces") == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == ::getpid()) found.push_back(std::stoi(name));
  }
  return found;
}

TEST_F(WindowLayerGtk, CrashedWebProcessIsReplacedAndThePageLoadedAgain) {
  const std::string a = server_.address("/a/");
  ASSERT_TRUE(layer_->loadWindow(design(a)));
  runDriven([&] {
    ASSERT_TRUE(waitFor([&] { return navigatedTo(a) && server_.requests("/a/") == 1; }));
    const std::vector<pid_t> before = webProcesses();
    ASSERT_FALSE(before.empty());
    for (pid_t pid : before) ::kill(pid, SIGKILL);
    // The page is shown again (from the cache or the server) in a new process.
    EXPECT_TRUE(waitFor(
        [&] {
          std::lock_guard lock(rec->mutex);
          return std::count(rec->navigated.begin(), rec->navigated.end(), a) == 2;
        },
        15s));
    EXPECT_FALSE(webProcesses().empty());
    EXPECT_EQ(layer_->url(kBrowser), a);
  });
}

TEST_F(WindowLayerGtk, SilentBrowserAnswersScriptDialogsWithoutShowingAny) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/dialogs/"))));
  runDriven([&] {
    std::string title;
    const bool done = waitFor([&] {
      onUi([&] {
        const gchar* t = webkit_web_view_get_title(
            WEBKIT_WEB_VIEW(reinterpret_cast<GtkWidget*>(layer_->windowHandle(kBrowser))));
        title = t != nullptr ? t : "";
      });
      return title.rfind("confirm=", 0) == 0;
    });
    EXPECT_TRUE(done) << "title " << title;
    EXPECT_EQ(title, "confirm=false prompt=null open=true");
    int visibleToplevels = 0;
    onUi([&] {
      GList* all = gtk_window_list_toplevels();
      for (GList* it = all; it != nullptr; it = it->next) {
        if (gtk_widget_get_visible(GTK_WIDGET(it->data)) &&
            gtk_window_get_window_type(GTK_WINDOW(it->data)) == GTK_WINDOW_TOPLEVEL) {
          ++visibleToplevels;
        }
      }
      g_list_free(all);
    });
    EXPECT_EQ(visibleToplevels, 1) << "only the main window";
  });
}

TEST_F(WindowLayerGtk, PropertiesFromOtherThreadsAreServedAndNeverHangAfterTheEnd) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const WindowHandle receiver = layer_->windowHandle(kReceiver);
  runDriven([&] {
    std::vector<std::thread> workers;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
      workers.emplace_back([&, t] {
        const char* label = t % 2 == 0 ? kStatus : kReceiver;
        for (int i = 0; i < 100; ++i) {
          const std::string text = "加载完毕 " + std::to_string(t) + "/" + std::to_string(i);
          layer_->setCaption(label, text);
          const std::string read = layer_->caption(label);
          if (read.rfind("加载完毕 ", 0) != 0) ++mismatches;
          layer_->setHeight(kBrowser, i % 2 == 0 ? 810 : 2800);
          const int h = layer_->height(kBrowser);
          if (h != 810 && h != 2800) ++mismatches;
          if (layer_->windowHandle(kReceiver) != receiver) ++mismatches;
        }
      });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(mismatches, 0);
    layer_->setCaption(kStatus, "加载完毕");
    EXPECT_EQ(layer_->caption(kStatus), "加载完毕");
  });
  // After the end nothing serves the calls any more; they return at once.
  std::string late = "unset";
  std::thread([&] { late = layer_->caption(kStatus); }).join();
  EXPECT_EQ(late, "");
}

TEST_F(WindowLayerGtk, NotificationsReachTheBoundControlOnTheUiThreadOrAreDropped) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const WindowHandle receiver = layer_->windowHandle(kReceiver);
  auto count = [&] {
    std::lock_guard lock(rec->mutex);
    return rec->notifications.size();
  };
  runDriven([&] {
    layer_->postNotification(receiver, kSpeechNotification, 1, 0);
    layer_->postNotification(receiver, 0x1234, 7, 7);              // not its event
    layer_->postNotification(0xdead0, kSpeechNotification, 7, 7);  // no such control
    layer_->postNotification(layer_->windowHandle(kStatus), kSpeechNotification, 7, 7);  // unbound
    layer_->postNotification(receiver, kSpeechNotification, 2, 0);
    ASSERT_TRUE(waitFor([&] { return count() >= 2; }));
    std::this_thread::sleep_for(300ms);
    {
      std::lock_guard lock(rec->mutex);
      using Pair = std::pair<std::uintptr_t, std::intptr_t>;
      EXPECT_EQ(rec->notifications, (std::vector<Pair>{{1, 0}, {2, 0}}));
      EXPECT_TRUE(rec->notifiedOnUiThread);
    }
    // Queued, then its target destroyed before delivery: dropped.
    onUi([&] {
      layer_->postNotification(receiver, kSpeechNotification, 3, 0);
      gtk_widget_destroy(reinterpret_cast<GtkWidget*>(receiver));
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(count(), 2u);
    EXPECT_EQ(layer_->windowHandle(kReceiver), 0u);
  });
}

// The screen position of a menu item's centre (UI thread).
std::pair<int, int> screenCentre(GtkWidget* widget) {
  GtkAllocation a{};
  gtk_widget_get_allocation(widget, &a);
  int x = 0;
  int y = 0;
  gdk_window_get_origin(gtk_widget_get_window(widget), &x, &y);
  if (!gtk_widget_get_has_window(widget)) {
    x += a.x;
    y += a.y;
  }
  return {x + a.width / 2, y + a.height / 2};
}

GtkWidget* menuBarItem(WindowHandle window, int index) {
  GtkWidget* column = gtk_bin_get_child(GTK_BIN(reinterpret_cast<GtkWidget*>(window)));
  GList* rows = gtk_container_get_children(GTK_CONTAINER(column));
  GList* items = gtk_container_get_children(GTK_CONTAINER(rows->data));
  auto* item = GTK_WIDGET(g_list_nth_data(items, static_cast<guint>(index)));
  g_list_free(items);
  g_list_free(rows);
  return item;
}

GtkWidget* submenuItem(GtkWidget* top, int index) {
  GtkWidget* menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(top));
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
  auto* item = GTK_WIDGET(g_list_nth_data(items, static_cast<guint>(index)));
  g_list_free(items);
  return item;
}

// Clicks the first button with this label; stops there, as the click may
// destroy the dialog.
bool clickButtonIn(GtkWidget* widget, const std::string& label) {
  if (GTK_IS_BUTTON(widget)) {
    const gchar* text = gtk_button_get_label(GTK_BUTTON(widget));
    if (text == nullptr || label != text) return false;
    gtk_button_clicked(GTK_BUTTON(widget));
    return true;
  }
  if (!GTK_IS_CONTAINER(widget)) return false;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  bool clicked = false;
  for (GList* it = children; it != nullptr && !clicked; it = it->next) {
    clicked = clickButtonIn(GTK_WIDGET(it->data), label);
  }
  g_list_free(children);
  return clicked;
}

void clickButton(GtkWindow* dialog, const std::string& label) {
  EXPECT_TRUE(clickButtonIn(GTK_WIDGET(dialog), label)) << "no button " << label;
}

TEST_F(WindowLayerGtk, MessageBoxFromAnotherThreadLeavesTheWindowUsable) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const WindowHandle window = layer_->windowHandle(kWindow);
  runDriven([&] {
    testing::XView x;
    ASSERT_TRUE(waitFor([&] { return x.outer(mainXid()).height == 623; }));
    std::atomic<int> result{-100};
    std::thread asker(
        [&] { result = layer_->messageBox("转换失败！", kBoxStyleOkCancel, "线程框", 0); });
    GtkWindow* box = nullptr;
    ASSERT_TRUE(waitFor([&] {
      onUi([&] { box = testing::toplevelWithTitle("线程框"); });
      return box != nullptr;
    }));
    onUi([&] {
      EXPECT_FALSE(gtk_window_get_modal(box));
      EXPECT_EQ(gtk_window_get_transient_for(box), nullptr);
    });

    // Real clicks on the main window's menu while the box is open.
    std::pair<int, int> at;
    onUi([&] { at = screenCentre(menuBarItem(window, 0)); });
    testing::run("xdotool mousemove --sync " + std::to_string(at.first) + " " +
                 std::to_string(at.second) + " click 1");
    GtkWidget* item = nullptr;
    ASSERT_TRUE(waitFor([&] {
      bool mapped = false;
      onUi([&] {
        item = submenuItem(menuBarItem(window, 0), 0);
        mapped = gtk_widget_get_mapped(item);
      });
      return mapped;
    })) << "the menu opens";
    std::this_thread::sleep_for(200ms);
    onUi([&] { at = screenCentre(item); });
    testing::run("xdotool mousemove --sync " + std::to_string(at.first) + " " +
                 std::to_string(at.second) + " click 1");
    EXPECT_TRUE(waitFor([&] { return rec->subject1 == 1; })) << "the menu item ran";
    EXPECT_EQ(result, -100) << "the box is still open";

    onUi([&] { clickButton(box, "取消"); });
    asker.join();
    EXPECT_EQ(result, kBoxCancel);
  });
}

TEST_F(WindowLayerGtk, MessageBoxOnTheUiThreadIsModalAndEndingClosesOpenBoxes) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const WindowHandle window = layer_->windowHandle(kWindow);
  std::atomic<int> late{-100};
  std::thread lateAsker;
  const int code = runDriven([&] {
    testing::XView x;
    ASSERT_TRUE(waitFor([&] { return x.outer(mainXid()).height == 623; }));
    // The menu handler opens the box; activate it without waiting for it.
    GtkWidget* retake = nullptr;
    onUi([&] { retake = submenuItem(menuBarItem(window, 0), 2); });
    g_idle_add(
        +[](gpointer item) -> gboolean {
          gtk_menu_item_activate(GTK_MENU_ITEM(item));
          return G_SOURCE_REMOVE;
        },
        retake);
    GtkWindow* box = nullptr;
    ASSERT_TRUE(waitFor([&] {
      onUi([&] { box = testing::toplevelWithTitle("模态框"); });
      return box != nullptr;
    }));
    onUi([&] {
      EXPECT_TRUE(gtk_window_get_modal(box));
      EXPECT_EQ(GTK_WIDGET(gtk_window_get_transient_for(box)),
                reinterpret_cast<GtkWidget*>(window));
      clickButton(box, "否(N)");
    });
    EXPECT_TRUE(waitFor([&] { return rec->modalResult == kBoxNo; }));

    // A box still open for another thread when the program ends releases it.
    lateAsker =
        std::thread([&] { late = layer_->messageBox("还开着", kBoxStyleOk, std::nullopt, 0); });
    GtkWindow* open = nullptr;
    ASSERT_TRUE(waitFor([&] {
      onUi([&] { open = testing::toplevelWithTitle(std::string(kDefaultBoxCaption)); });
      return open != nullptr;
    })) << "default caption";
    layer_->endProgram(4);
  });
  lateAsker.join();
  EXPECT_EQ(code, 4);
  EXPECT_EQ(late, kBoxOk);
  EXPECT_EQ(rec->exitRoutines, 1);
}

TEST_F(WindowLayerGtk, ProcessWaitingMessagesDispatchesButLeavesAPendingEnd) {
  ASSERT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
  const WindowHandle receiver = layer_->windowHandle(kReceiver);
  layer_->postNotification(receiver, kSpeechNotification, 1, 0);
  layer_->processWaitingMessages();
  EXPECT_EQ(rec->notifications.size(), 1u);

  layer_->endProgram(3);
  layer_->processWaitingMessages();
  EXPECT_EQ(rec->exitRoutines, 0) << "ending is the loop's business";
  EXPECT_EQ(layer_->messageLoop(), 3) << "the end stayed pending";
  EXPECT_EQ(rec->exitRoutines, 1);
}

TEST_F(WindowLayerGtk, RefusesADesignWithAControlOutsideAnyContainer) {
  WindowDesign broken = design(server_.address("/a/"));
  broken.controls[2].parent = "没有这个";
  EXPECT_FALSE(layer_->loadWindow(broken));
  EXPECT_EQ(layer_->windowHandle(kWindow), 0u);
  EXPECT_EQ(rec->created, 0);
  // The same layer can still build a sound window afterwards.
  EXPECT_TRUE(layer_->loadWindow(design(server_.address("/a/"))));
}

}  // namespace
}  // namespace zandrel
