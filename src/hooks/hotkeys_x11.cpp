#include "hooks/hotkeys_x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <glib.h>
#include <poll.h>

#include <array>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "hooks/key_codes_x11.h"

namespace zandrel {

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct SourceRemover {
  void operator()(GSource* source) const {
    g_source_destroy(source);
    g_source_unref(source);
  }
};
using SourcePtr = std::unique_ptr<GSource, SourceRemover>;

template <typename T>
struct XFreeDeleter {
  void operator()(T* data) const { XFree(data); }
};

constexpr std::int16_t kDownBit = static_cast<std::int16_t>(0x8000);
constexpr std::int16_t kPressedSinceBit = 1;

// Reads the state of the whole X server on a connection of its own, so that
// neither the toolkit's event handling nor its grabs get in the way, and so
// that keys are only observed: nothing is grabbed, the focused client still
// gets every key.
class X11HotkeyPlatform final : public HotkeyPlatform {
 public:
  X11HotkeyPlatform() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    watchKeymapChanges();
    refreshKeyMap();
    watchRawInput();
    // After the selection, so that no press or release falls between the
    // state read here and the first raw event.
    readKeyState();
  }

  ~X11HotkeyPlatform() override {
    // A timer left running would keep polling a key source that is gone.
    timers_.clear();
  }

  void sampleKeys(KeySnapshot& snapshot) override {
    if (!display_) return;
    if (xiOpcode_ < 0) {
      // Without raw key events only the server knows the state: one round
      // trip per sample, whose reply also reads in the button events.
      readKeyState();
    }
    drainEvents();
    if (keyStateStale_) readKeyState();

    for (int key = 1; key < 256; ++key) {
      bool down = buttonDown_[key];
      for (std::uint8_t keycode : keyMap_.keycodesOfKey[key]) {
        if (keycodeDown_[keycode]) {
          down = true;
          break;
        }
      }
      std::int16_t value = down ? kDownBit : 0;
      if (pressedSince_[key]) value = static_cast<std::int16_t>(value | kPressedSinceBit);
      snapshot[key] = value;
    }
    pressedSince_.fill(false);
  }

  bool startTimer(int periodMs, void (*poll)()) override {
    if (poll == nullptr || periodMs <= 0) return false;
    auto timer = std::make_unique<Timer>();
    timer->poll = poll;
    timer->source.reset(g_timeout_source_new(static_cast<guint>(periodMs)));
    g_source_set_priority(timer->source.get(), G_PRIORITY_DEFAULT);
    g_source_set_callback(timer->source.get(), &X11HotkeyPlatform::onTimer, timer.get(), nullptr);
    // The calling thread's context: the UI thread's, which GTK dispatches.
    GMainContext* context = g_main_context_ref_thread_default();
    g_source_attach(timer->source.get(), context);
    g_main_context_unref(context);
    timers_.push_back(std::move(timer));
    return true;
  }

  bool startThread(HotkeyHandler handler, std::int32_t id) override {
    if (handler == nullptr) return false;
    try {
      std::thread(handler, id).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

 private:
  struct Timer {
    void (*poll)() = nullptr;
    SourcePtr source;
  };

  static gboolean onTimer(gpointer data) {
    static_cast<Timer*>(data)->poll();
    return G_SOURCE_CONTINUE;
  }

  // Xlib speaks XKB on every connection, and then the server tells of new
  // key mappings by XKB events only; core MappingNotify comes as well when
  // XKB is missing.
  void watchKeymapChanges() {
    int opcode = 0;
    int error = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(display_.get(), &opcode, &xkbEventBase_, &error, &major, &minor)) {
      xkbEventBase_ = -1;
      return;
    }
    const unsigned int changes = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
    XkbSelectEvents(display_.get(), XkbUseCoreKbd, changes, changes);
  }

  void refreshKeyMap() {
    keyMapStale_ = false;
    int firstKeycode = 0;
    int lastKeycode = 0;
    XDisplayKeycodes(display_.get(), &firstKeycode, &lastKeycode);
    int perKeycode = 0;
    const int count = lastKeycode - firstKeycode + 1;
    std::unique_ptr<KeySym, XFreeDeleter<KeySym>> syms(XGetKeyboardMapping(
        display_.get(), static_cast<KeyCode>(firstKeycode), count, &perKeycode));
    if (!syms || perKeycode <= 0) return;
    const std::vector<unsigned long> keysyms(syms.get(), syms.get() + count * perKeycode);
    keyMap_ = buildX11KeyMap(firstKeycode, perKeycode, keysyms);
  }

  // Raw events reach a root-window selection whatever window has the focus
  // and whoever holds a grab: they carry the presses between two samples.
  void watchRawInput() {
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display_.get(), "XInputExtension", &xiOpcode_, &event, &error)) {
      xiOpcode_ = -1;
      return;
    }
    // Raw events regardless of grabs need 2.1; ask for 2.2 as GTK does.
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display_.get(), &major, &minor) != Success || (major == 2 && minor < 1)) {
      xiOpcode_ = -1;
      return;
    }
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
    XISetMask(bits.data(), XI_RawButtonPress);
    XISetMask(bits.data(), XI_RawButtonRelease);
    XISetMask(bits.data(), XI_DeviceChanged);
    // The server takes the hierarchy's events only in a selection for all
    // devices, and raw events there would come twice (slave and master).
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> hierarchyBits{};
    XISetMask(hierarchyBits.data(), XI_HierarchyChanged);
    std::array<XIEventMask, 2> masks{};
    masks[0].deviceid = XIAllMasterDevices;
    masks[0].mask_len = static_cast<int>(bits.size());
    masks[0].mask = bits.data();
    masks[1].deviceid = XIAllDevices;
    masks[1].mask_len = static_cast<int>(hierarchyBits.size());
    masks[1].mask = hierarchyBits.data();
    XISelectEvents(display_.get(), DefaultRootWindow(display_.get()), masks.data(),
                   static_cast<int>(masks.size()));
  }

  // The keys and buttons down now, from the server: once at the start, then
  // only when the event stream says it may have missed a release (a device
  // came or went, or changed its keys). Between those times the raw press and
  // release events keep the state, so an idle program asks the server nothing.
  void readKeyState() {
    keyStateStale_ = false;
    char keymap[32] = {};
    XQueryKeymap(display_.get(), keymap);
    for (int keycode = 0; keycode < 256; ++keycode) {
      keycodeDown_[keycode] =
          (static_cast<unsigned char>(keymap[keycode / 8]) >> (keycode % 8)) & 1u;
    }
    if (xiOpcode_ >= 0) readButtons();
  }

  void readButtons() {
    buttonDown_.fill(false);
    int pointer = 0;
    if (!XIGetClientPointer(display_.get(), None, &pointer)) return;
    Window root = 0;
    Window child = 0;
    double rootX = 0, rootY = 0, winX = 0, winY = 0;
    XIButtonState buttons{};
    XIModifierState mods{};
    XIGroupState group{};
    if (XIQueryPointer(display_.get(), pointer, DefaultRootWindow(display_.get()), &root, &child,
                       &rootX, &rootY, &winX, &winY, &buttons, &mods, &group)) {
      for (int button = 1; button < buttons.mask_len * 8; ++button) {
        if (XIMaskIsSet(buttons.mask, button)) {
          if (std::uint8_t key = virtualKeyOfButton(button)) buttonDown_[key] = true;
        }
      }
    }
    XFree(buttons.mask);
  }

  // Events Xlib has already read, and those waiting on the socket: a poll
  // of the descriptor first, so that an idle sample reads nothing.
  bool eventsWaiting() {
    if (XEventsQueued(display_.get(), QueuedAlready) > 0) return true;
    pollfd descriptor{ConnectionNumber(display_.get()), POLLIN, 0};
    return ::poll(&descriptor, 1, 0) > 0;
  }

  void drainEvents() {
    if (!eventsWaiting()) return;
    while (XPending(display_.get()) > 0) {
      XEvent event;
      XNextEvent(display_.get(), &event);
      // A change of the mapping comes as several events; the mapping is read
      // again once, before the next key press needs it.
      if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request != MappingPointer) keyMapStale_ = true;
        keyStateStale_ = true;
        continue;
      }
      if (xkbEventBase_ >= 0 && event.type == xkbEventBase_) {
        keyMapStale_ = true;
        keyStateStale_ = true;
        continue;
      }
      if (event.type != GenericEvent || event.xcookie.extension != xiOpcode_) continue;
      if (!XGetEventData(display_.get(), &event.xcookie)) continue;
      const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
      switch (event.xcookie.evtype) {
        case XI_RawKeyPress:
          if (keyMapStale_) refreshKeyMap();
          if (raw->detail >= 0 && raw->detail < 256) {
            keycodeDown_[raw->detail] = true;
            for (std::uint8_t key : keyMap_.keysOfKeycode[raw->detail]) pressedSince_[key] = true;
          }
          break;
        case XI_RawKeyRelease:
          if (raw->detail >= 0 && raw->detail < 256) keycodeDown_[raw->detail] = false;
          break;
        case XI_HierarchyChanged:
          // A keyboard unplugged with a key held sends no release.
          keyStateStale_ = true;
          break;
        case XI_DeviceChanged:
          // A switch between the slaves of one master loses nothing.
          if (static_cast<const XIDeviceChangedEvent*>(event.xcookie.data)->reason !=
              XISlaveSwitch) {
            keyStateStale_ = true;
          }
          break;
        case XI_RawButtonPress:
          if (std::uint8_t key = virtualKeyOfButton(raw->detail)) {
            pressedSince_[key] = true;
            buttonDown_[key] = true;
          }
          break;
        case XI_RawButtonRelease:
          if (std::uint8_t key = virtualKeyOfButton(raw->detail)) buttonDown_[key] = false;
          break;
        default:
          break;
      }
      XFreeEventData(display_.get(), &event.xcookie);
    }
    if (keyMapStale_) refreshKeyMap();
  }

  DisplayPtr display_;
  int xiOpcode_ = -1;
  int xkbEventBase_ = -1;
  bool keyMapStale_ = false;
  bool keyStateStale_ = false;
  X11KeyMap keyMap_;
  std::array<bool, 256> keycodeDown_{};
  std::array<bool, 256> pressedSince_{};
  std::array<bool, 256> buttonDown_{};
  std::vector<std::unique_ptr<Timer>> timers_;
};

}  // namespace

std::unique_ptr<HotkeyPlatform> createX11HotkeyPlatform() {
  return std::make_unique<X11HotkeyPlatform>();
}

}  // namespace zandrel
