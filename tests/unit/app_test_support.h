#pragma once
// Small stand-ins for the speech engine, the page and the input hooks, enough
// to drive the application's handlers; the subsystems' own fakes test those
// subsystems.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_window_layer.h"
#include "hooks/hotkeys.h"
#include "hooks/mouse_filter.h"
#include "page/page_bridge.h"
#include "runtime/services.h"
#include "runtime/speech.h"

namespace zandrel::testing {

// Logs every voice operation in order and notices two of them overlapping.
class ScriptedSpeech : public SpeechEngine {
 public:
  struct Log {
    std::mutex mutex;
    std::vector<std::string> entries;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    void add(std::string e) {
      std::lock_guard lock(mutex);
      entries.push_back(std::move(e));
    }
    std::vector<std::string> snapshot() {
      std::lock_guard lock(mutex);
      return entries;
    }
  };

  class Voice : public SpeechVoice {
   public:
    Voice(ScriptedSpeech& engine, VoiceEventCallback cb) : engine_(engine), cb_(std::move(cb)) {}
    ~Voice() override { op("destroy"); }
    std::vector<std::string> voiceDescriptions() override { return {}; }
    bool selectVoice(std::size_t) override { return true; }
    bool pause() override { return op("pause"); }
    bool speak(int mode, std::string_view text) override {
      const bool ok = op("speak:" + std::to_string(mode) + ":" + std::string(text));
      if (ok && engine_.emitEvents) {
        cb_(kSpeechStart);
        cb_(kSpeechEnd);
      }
      return ok && engine_.acceptSpeech;
    }
    bool waitUntilDone(int) override { return true; }

   private:
    bool op(std::string name) {
      Log& log = *engine_.log;
      if (log.inside.fetch_add(1) != 0) log.overlapped = true;
      log.add(std::move(name));
      if (engine_.opDelay.count() > 0) std::this_thread::sleep_for(engine_.opDelay);
      log.inside.fetch_sub(1);
      return true;
    }
    ScriptedSpeech& engine_;
    VoiceEventCallback cb_;
  };

  std::unique_ptr<SpeechVoice> createVoice(VoiceEventCallback cb) override {
    log->add("create");
    std::this_thread::sleep_for(std::chrono::milliseconds(createDelayMs.load()));
    if (!available) return nullptr;
    return std::make_unique<Voice>(*this, std::move(cb));
  }

  std::shared_ptr<Log> log = std::make_shared<Log>();
  std::atomic<bool> available{true};
  std::atomic<bool> acceptSpeech{true};
  std::atomic<bool> emitEvents{false};
  std::chrono::milliseconds opDelay{0};
  std::atomic<int> createDelayMs{0};  // a speech service slow to give a voice
};

// A page whose document answers the question read in one step.
class ScriptedPage : public PageBridge {
 public:
  static constexpr WindowHandle kDocumentWindow = 5000;

  class Document : public AutomationObject {
   public:
    explicit Document(ScriptedPage& page) : page_(page) {}
    std::string getText(std::string_view) override { return {}; }
    double getNumber(std::string_view) override { return 0; }
    ObjectRef getObject(std::string_view) override { return nullptr; }
    ObjectRef call(std::string_view, const Argument&) override { return nullptr; }
    std::optional<std::string> divInnerHtml(std::string_view key, int skip,
                                            dom::SearchTrace&) override {
      std::lock_guard lock(page_.mutex);
      page_.reads.push_back(std::string(key) + "/" + std::to_string(skip));
      return page_.question;
    }

   private:
    ScriptedPage& page_;
  };

  bool isWindow(WindowHandle w) override { return w == browser || w == kDocumentWindow; }
  WindowHandle nextChild(WindowHandle parent, WindowHandle after) override {
    return parent == browser && after == 0 && hasDocument ? kDocumentWindow : 0;
  }
  std::string className(WindowHandle w) override { return w == kDocumentWindow ? "Doc" : "Box"; }
  void processWaitingMessages() override {}
  std::string_view documentWindowClass() const override { return "Doc"; }
  void enterApartment() override { ++apartments; }
  void leaveApartment() override { --apartments; }
  ObjectRef documentFromWindow(WindowHandle w, int) override {
    if (w != kDocumentWindow) return nullptr;
    return std::make_shared<Document>(*this);
  }

  std::mutex mutex;
  WindowHandle browser = 0;
  bool hasDocument = true;
  std::string question;
  std::vector<std::string> reads;
  std::atomic<int> apartments{0};
};

class RecordingHotkeys : public HotkeyPlatform {
 public:
  void sampleKeys(KeySnapshot& s) override { s.fill(0); }
  bool startTimer(int periodMs, void (*)()) override {
    timerPeriods.push_back(periodMs);
    return true;
  }
  bool startThread(HotkeyHandler, std::int32_t) override { return true; }
  std::vector<int> timerPeriods;
};

class RecordingMouse : public MouseHookPlatform {
 public:
  std::uint32_t windowThread(WindowHandle w) override {
    askedWindow = w;
    return 77;
  }
  HookHandle installMouseHook(std::uint32_t thread, MouseFilterProc) override {
    hookedThread = thread;
    return 1;
  }
  std::string focusClassName() override { return {}; }
  std::intptr_t callNextHook(HookHandle, int, std::uintptr_t, std::intptr_t) override { return 0; }
  std::string documentWindowClass() const override { return "Doc"; }
  WindowHandle askedWindow = 0;
  std::uint32_t hookedThread = 0;
};

// Installs the stand-ins as the process's services for one test.
struct AppServices {
  FakeWindowLayer window;
  ScriptedSpeech speech;
  ScriptedPage page;
  RecordingHotkeys hotkeys;
  RecordingMouse mouse;
  Services saved = services();

  AppServices() { services() = Services{&window, &speech, &page, &hotkeys, &mouse}; }
  ~AppServices() { services() = saved; }
};

}  // namespace zandrel::testing
