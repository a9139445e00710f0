// The hooks on a real X desktop: F1 through the X11 key source while this or
// another client has the focus, and the right-click filter in front of a real
// web view. Each test process runs its own Xvfb and window manager.

// gtest before the X headers, whose None macro it would trip over.
#include <gtest/gtest.h>
// clang-format off
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
// clang-format on
#include <webkit2/webkit2.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "hooks/hotkeys.h"
#include "hooks/hotkeys_x11.h"
#include "hooks/mouse_filter.h"
#include "hooks/mouse_filter_gtk.h"
#include "hooks_desktop_support.h"
#include "runtime/services.h"

namespace zandrel {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::pumpFor;
using testing::pumpUntil;
using testing::runCommand;

testing::PrivateDesktop* desktop = nullptr;

class DesktopEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Software drawing, no accessibility bus: nothing here needs them.
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    desktop_ = std::make_unique<testing::PrivateDesktop>();
    ASSERT_TRUE(desktop_->ready()) << "no Xvfb with a window manager";
    desktop = desktop_.get();
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  }
  void TearDown() override {
    desktop = nullptr;
    // GDK is not dispatched again, so it never reads the lost connection.
    desktop_.reset();
  }

 private:
  std::unique_ptr<testing::PrivateDesktop> desktop_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

// Counts the handler runs, which come on threads of their own.
std::atomic<int> f1Presses{0};
void countF1(std::int32_t) {
  f1Presses.fetch_add(1);
}

constexpr char kPage[] = R"(<!doctype html>
<html><body style="margin:0;height:3000px;background:#ddd">
<script>
window.events = [];
for (const type of ['mousedown', 'mouseup', 'click', 'contextmenu'])
  document.addEventListener(type, e => events.push(type + ':' + e.button), true);
</script></body></html>)";

// A window like the application's: a field that can take the focus, a plain
// area that records button events, and the web view.
class HooksDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(desktop, nullptr);
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), 640, 520);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    entry_ = gtk_entry_new();
    pad_ = gtk_event_box_new();
    gtk_widget_set_size_request(pad_, 640, 80);
    gtk_widget_add_events(pad_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(pad_, "button-press-event", G_CALLBACK(&HooksDesktop::onPadButton), this);
    g_signal_connect(pad_, "button-release-event", G_CALLBACK(&HooksDesktop::onPadButton), this);
    view_ = webkit_web_view_new();
    gtk_box_pack_start(GTK_BOX(box), entry_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), pad_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), view_, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window_), box);
    g_signal_connect(view_, "load-changed", G_CALLBACK(&HooksDesktop::onLoadChanged), this);
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(view_), kPage, "http://127.0.0.1/");
    gtk_widget_show_all(window_);
    ASSERT_TRUE(pumpUntil([this] { return pageLoaded_ && windowActive(); }, 20s))
        << "page loaded " << pageLoaded_ << ", window active " << windowActive();
  }

  void TearDown() override {
    FreeHotkeyTable();
    services().hotkeys = nullptr;
    services().mouse = nullptr;
    keys_.reset();
    mouse_.reset();
    if (window_ != nullptr) gtk_widget_destroy(window_);
    pumpFor(50ms);
  }

  bool windowActive() { return gtk_window_is_active(GTK_WINDOW(window_)); }
  // One sample of the key source, once what was just sent has reached it.
  void sampleAfterAWhile(KeySnapshot& snapshot) {
    std::this_thread::sleep_for(50ms);
    snapshot.fill(0);
    keys_->sampleKeys(snapshot);
  }
  std::string windowId() {
    return std::to_string(gdk_x11_window_get_xid(gtk_widget_get_window(window_)));
  }

  void startHotkeys() {
    keys_ = createX11HotkeyPlatform();
    services().hotkeys = keys_.get();
    f1Presses = 0;
    CreateHotkeyTable();
    ASSERT_EQ(AddHotkey(&countF1, 112), 1000001);
  }

  void installFilter() {
    mouse_ = createGtkMouseHookPlatform();
    services().mouse = mouse_.get();
    InstallBrowserMouseFilter(reinterpret_cast<WindowHandle>(view_));
    ASSERT_NE(CurrentMouseFilter().hook, 0u);
  }

  // Runs xdotool with the keys or clicks, then gives the poll and the handler
  // threads time to see them.
  void xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    ASSERT_EQ(runCommand(argv), 0);
    pumpFor(150ms);
  }

  // Moves the pointer to a point of `widget` (widget coordinates).
  void pointAt(GtkWidget* widget, int x, int y) {
    int wx = 0;
    int wy = 0;
    ASSERT_TRUE(gtk_widget_translate_coordinates(widget, window_, x, y, &wx, &wy));
    xdotool({"mousemove", "--window", windowId(), std::to_string(wx), std::to_string(wy)});
  }
  void click(int button) {
    const std::string b = std::to_string(button);
    xdotool({"mousedown", b, "sleep", "0.1", "mouseup", b});
    pumpFor(300ms);
  }

  std::string pageEvents() {
    struct Result {
      bool done = false;
      std::string text;
    } result;
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(view_), "events.join(',')", -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* async, gpointer data) {
          auto* out = static_cast<Result*>(data);
          GError* error = nullptr;
          if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source),
                                                                           async, &error)) {
            g_autofree char* text = jsc_value_to_string(value);
            out->text = text;
            g_object_unref(value);
          } else {
            out->text = std::string("error: ") + (error ? error->message : "?");
            g_clear_error(&error);
          }
          out->done = true;
        },
        &result);
    EXPECT_TRUE(pumpUntil([&] { return result.done; }, 10s));
    return result.text;
  }
  void clearPageEvents() {
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view_), "events.length = 0", -1, nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
    pumpFor(100ms);
  }

  // A context menu is on screen when any menu or popover of this process is.
  static void findShownMenu(GtkWidget* widget, gpointer data) {
    if ((GTK_IS_MENU(widget) || GTK_IS_POPOVER(widget)) && gtk_widget_get_mapped(widget)) {
      *static_cast<bool*>(data) = true;
    }
    if (GTK_IS_CONTAINER(widget)) {
      gtk_container_forall(GTK_CONTAINER(widget), &HooksDesktop::findShownMenu, data);
    }
  }
  static bool menuShown() {
    bool shown = false;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
      findShownMenu(GTK_WIDGET(item->data), &shown);
    }
    g_list_free(toplevels);
    return shown;
  }

  static gboolean onPadButton(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* test = static_cast<HooksDesktop*>(self);
    test->padEvents_ +=
        (event->type == GDK_BUTTON_RELEASE ? "up:" : "down:") + std::to_string(event->button) + ",";
    return FALSE;
  }
  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<HooksDesktop*>(self)->pageLoaded_ = true;
  }

  GtkWidget* window_ = nullptr;
  GtkWidget* entry_ = nullptr;
  GtkWidget* pad_ = nullptr;
  GtkWidget* view_ = nullptr;
  bool pageLoaded_ = false;
  std::string padEvents_;
  std::unique_ptr<HotkeyPlatform> keys_;
  std::unique_ptr<MouseHookPlatform> mouse_;
};

std::vector<std::string> hold(const std::string& key, const std::string& seconds) {
  return {"keydown", key, "sleep", seconds, "keyup", key};
}

TEST_F(HooksDesktop, F1FiresOncePerPressHoweverLongItIsHeld) {
  startHotkeys();
  xdotool(hold("F1", "0.1"));
  EXPECT_EQ(f1Presses.load(), 1);
  // Past the server's auto-repeat delay.
  xdotool(hold("F1", "1.0"));
  EXPECT_EQ(f1Presses.load(), 2);
  xdotool(hold("F2", "0.1"));
  EXPECT_EQ(f1Presses.load(), 2);
}

TEST_F(HooksDesktop, ModifiersBlockF1ExceptTheRightSuperKey) {
  startHotkeys();
  testing::KeyInjector keys;
  auto pressWith = [&](const char* modifier) {
    ASSERT_TRUE(keys.down(modifier)) << modifier;
    pumpFor(50ms);
    ASSERT_TRUE(keys.down("F1"));
    pumpFor(100ms);
    keys.up("F1");
    keys.up(modifier);
    pumpFor(150ms);
  };
  for (const char* modifier :
       {"Control_L", "Control_R", "Alt_L", "Alt_R", "Shift_L", "Shift_R", "Super_L"}) {
    pressWith(modifier);
    EXPECT_EQ(f1Presses.load(), 0) << modifier;
  }
  pressWith("Super_R");
  EXPECT_EQ(f1Presses.load(), 1);
  // Nothing is left held or used up by the combinations.
  xdotool(hold("F1", "0.1"));
  EXPECT_EQ(f1Presses.load(), 2);
}

TEST_F(HooksDesktop, F1FiresWhileAnotherClientHasTheFocusAndStillReachesIt) {
  startHotkeys();
  const std::string log = ::testing::TempDir() + "hooks_xev_" + std::to_string(getpid()) + ".txt";
  ChildProcess xev({"stdbuf", "-oL", "xev", "-event", "keyboard"}, log);
  ASSERT_TRUE(xev.started());
  ASSERT_EQ(runCommand({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Event Tester$",
                        "windowactivate", "--sync"}),
            0);
  ASSERT_TRUE(pumpUntil([this] { return !windowActive(); }, 5s));

  xdotool(hold("F1", "0.1"));
  EXPECT_EQ(f1Presses.load(), 1);
  EXPECT_FALSE(windowActive());
  ASSERT_TRUE(
      pumpUntil([&] { return testing::readFile(log).find("F1)") != std::string::npos; }, 5s))
      << testing::readFile(log);
  const std::string seen = testing::readFile(log);
  EXPECT_NE(seen.find("KeyPress event"), std::string::npos);
  EXPECT_NE(seen.find("KeyRelease event"), std::string::npos);
  xev.stop();
  std::remove(log.c_str());
}

TEST_F(HooksDesktop, TheKeySourceReportsDownPressedSinceAndEachSideOfAModifier) {
  keys_ = createX11HotkeyPlatform();
  KeySnapshot snapshot{};
  auto sample = [&] { sampleAfterAWhile(snapshot); };
  sample();

  testing::KeyInjector keys;
  for (const char* key : {"a", "Shift_R", "Super_R"}) ASSERT_TRUE(keys.down(key)) << key;
  sample();
  for (int vk : {65, 16, 161, 92}) EXPECT_LT(snapshot[vk], 0) << vk;
  for (int vk : {66, 160, 17, 18, 91, 112}) EXPECT_EQ(snapshot[vk], 0) << vk;
  for (const char* key : {"a", "Shift_R", "Super_R"}) keys.up(key);
  sample();
  for (int vk : {65, 16, 161, 92}) EXPECT_EQ(snapshot[vk], 0) << vk;

  // Pressed and released between two samples: up, but pressed since.
  ASSERT_EQ(runCommand({"xdotool", "key", "--delay", "0", "F1", "click", "1"}), 0);
  sample();
  EXPECT_EQ(snapshot[112], 1);
  EXPECT_EQ(snapshot[1], 1);
  sample();
  EXPECT_EQ(snapshot[112], 0);
  EXPECT_EQ(snapshot[1], 0);

  // The pointer buttons: right is 2, middle 4.
  ASSERT_EQ(runCommand({"xdotool", "mousedown", "3", "mousedown", "2"}), 0);
  sample();
  EXPECT_LT(snapshot[2], 0);
  EXPECT_LT(snapshot[4], 0);
  EXPECT_EQ(snapshot[1], 0);
  ASSERT_EQ(runCommand({"xdotool", "mouseup", "3", "mouseup", "2"}), 0);
  sample();
  EXPECT_EQ(snapshot[2], 0);
  EXPECT_EQ(snapshot[4], 0);

  // A key whose keysym is only mapped after the source started.
  ASSERT_EQ(runCommand({"xmodmap", "-e", "keycode 197 = F20"}), 0);
  testing::KeyInjector remappedKeys;  // a connection that knows the new mapping
  ASSERT_TRUE(remappedKeys.down("F20"));
  sample();
  EXPECT_LT(snapshot[0x70 + 19], 0);
  remappedKeys.up("F20");
}

// The source keeps the state from the server's press and release events:
// a key already held when it starts is down from the first sample, and a
// new key mapping, after which the state is read again, loses nothing.
TEST_F(HooksDesktop, AKeyHeldBeforeTheSourceStartsIsDownUntilItsRelease) {
  testing::KeyInjector keys;
  ASSERT_TRUE(keys.down("F1"));
  keys_ = createX11HotkeyPlatform();
  KeySnapshot snapshot{};
  auto sample = [&] { sampleAfterAWhile(snapshot); };
  sample();
  EXPECT_EQ(snapshot[112], static_cast<std::int16_t>(0x8000));  // down, no press seen

  ASSERT_EQ(runCommand({"xmodmap", "-e", "keycode 198 = F21"}), 0);
  sample();
  EXPECT_LT(snapshot[112], 0);
  keys.up("F1");
  sample();
  EXPECT_EQ(snapshot[112], 0);
  ASSERT_TRUE(keys.down("F1"));
  keys.up("F1");
  sample();
  EXPECT_EQ(snapshot[112], 1);
}

gboolean refuseMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
  return TRUE;
}

TEST_F(HooksDesktop, WithoutTheFilterARightClickOpensTheMenuAndTheReleaseReachesThePage) {
  // The control for the tests below: what they must not see is seen here.
  pointAt(view_, 100, 100);
  click(1);
  clearPageEvents();
  click(3);
  EXPECT_TRUE(pumpUntil(&HooksDesktop::menuShown, 3s));
  xdotool({"key", "Escape"});
  ASSERT_TRUE(pumpUntil([] { return !menuShown(); }, 3s));

  // An open menu takes the release itself; without one the page gets it.
  g_signal_connect(view_, "context-menu", G_CALLBACK(&refuseMenu), nullptr);
  clearPageEvents();
  click(3);
  EXPECT_FALSE(menuShown());
  EXPECT_EQ(pageEvents(), "mousedown:2,contextmenu:2,mouseup:2");
}

TEST_F(HooksDesktop, InTheFocusedPageTheRightReleaseIsSwallowedAndNoMenuOpens) {
  installFilter();
  pointAt(view_, 100, 100);
  click(1);
  ASSERT_STREQ(G_OBJECT_TYPE_NAME(gtk_window_get_focus(GTK_WINDOW(window_))), "WebKitWebView");
  EXPECT_EQ(pageEvents(), "mousedown:0,mouseup:0,click:0");
  clearPageEvents();

  click(3);
  pumpFor(500ms);
  EXPECT_FALSE(menuShown());
  const std::string events = pageEvents();
  EXPECT_NE(events.find("mousedown:2"), std::string::npos) << events;
  EXPECT_EQ(events.find("mouseup:2"), std::string::npos) << events;

  // Left clicks still work afterwards.
  clearPageEvents();
  click(1);
  EXPECT_EQ(pageEvents(), "mousedown:0,mouseup:0,click:0");
}

TEST_F(HooksDesktop, TheFocusDecidesNotThePointer) {
  installFilter();
  // The page has the focus: a right release over another widget of the
  // window is swallowed as well; the press and the left button pass.
  gtk_widget_grab_focus(view_);
  pumpFor(100ms);
  pointAt(pad_, 50, 40);
  click(3);
  click(1);
  EXPECT_EQ(padEvents_, "down:3,down:1,up:1,");

  // The field has the focus: the right release passes.
  gtk_widget_grab_focus(entry_);
  pumpFor(100ms);
  padEvents_.clear();
  click(3);
  EXPECT_EQ(padEvents_, "down:3,up:3,");
}

}  // namespace
}  // namespace zandrel
