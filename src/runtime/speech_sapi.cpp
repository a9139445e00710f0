#include "runtime/speech_sapi.h"

#include <windows.h>

#include <sapi.h>
#include <sphelper.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "runtime/com_win32.h"
#include "runtime/support_win32.h"

namespace zandrel {
namespace {

using win32::ComPtr;

constexpr ULONGLONG eventFlag(SPEVENTENUM id) {
  return 1ULL << id;
}
// SAPI insists on its two reserved bits in every interest mask.
constexpr ULONGLONG kInterestCheck = eventFlag(SPEI_RESERVED1) | eventFlag(SPEI_RESERVED2);
constexpr ULONGLONG kStreamEvents =
    eventFlag(SPEI_START_INPUT_STREAM) | eventFlag(SPEI_END_INPUT_STREAM) | kInterestCheck;

// What an event's lParam owns, released the way the SDK's SpClearEvent does.
void clearEvent(SPEVENT& event) {
  switch (event.elParamType) {
    case SPET_LPARAM_IS_POINTER:
    case SPET_LPARAM_IS_STRING:
      CoTaskMemFree(reinterpret_cast<void*>(event.lParam));
      break;
    case SPET_LPARAM_IS_TOKEN:
    case SPET_LPARAM_IS_OBJECT:
      if (event.lParam) reinterpret_cast<IUnknown*>(event.lParam)->Release();
      break;
    default:
      break;
  }
  event.lParam = 0;
}

// An auto-reset event object owned by us.
class EventHandle {
 public:
  EventHandle() : h_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  ~EventHandle() {
    if (h_) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// A string value of a registry key named by a token id
// ("HKEY_LOCAL_MACHINE\\SOFTWARE\\..."); nullopt when it cannot be read.
std::optional<std::wstring> registryText(std::wstring_view keyPath, const wchar_t* name) {
  struct Root {
    std::wstring_view prefix;
    HKEY key;
  };
  static const Root roots[] = {{L"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
                               {L"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}};
  for (const Root& root : roots) {
    if (keyPath.substr(0, root.prefix.size()) != root.prefix) continue;
    const std::wstring subKey(keyPath.substr(root.prefix.size()));
    DWORD bytes = 0;
    if (RegGetValueW(root.key, subKey.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t)) {
      return std::nullopt;
    }
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(root.key, subKey.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
  }
  return std::nullopt;
}

// The voice's description in the user interface language, else its default
// description. Where the token object cannot read its values (some SAPI
// implementations), they are read from the token's registry key.
std::string voiceDescription(ISpObjectToken* token) {
  WCHAR* text = nullptr;
  if (SUCCEEDED(SpGetDescription(token, &text)) && text) {
    std::string description = win32::narrow(text);
    CoTaskMemFree(text);
    return description;
  }
  CoTaskMemFree(text);
  WCHAR* id = nullptr;
  if (FAILED(token->GetId(&id)) || !id) return {};
  // The id names the token's key; some implementations give only the key's
  // own name below the voices' Tokens key.
  std::wstring keyPath(id);
  CoTaskMemFree(id);
  if (keyPath.rfind(L"HKEY_", 0) != 0)
    keyPath = std::wstring(SPCAT_VOICES) + L"\\Tokens\\" + keyPath;
  // The value name SpGetDescription uses: the language id in hex ("804").
  wchar_t language[16] = {};
  SpHexFromUlong(language, GetUserDefaultUILanguage());
  std::optional<std::wstring> description = registryText(keyPath, language);
  if (!description) description = registryText(keyPath, nullptr);
  return description ? win32::narrow(*description) : std::string();
}

// One SpVoice with its voice tokens. Lives and dies on the speech thread,
// which also reads its events.
class VoiceCore {
 public:
  // Null when no SpVoice can be created.
  static std::unique_ptr<VoiceCore> create(VoiceEventCallback onEvent) {
    auto core = std::make_unique<VoiceCore>(std::move(onEvent));
    if (FAILED(CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice,
                                core->voice_.putVoid()))) {
      return nullptr;
    }
    // Start and end of every request, signalled on an event that the speech
    // thread watches.
    if (SUCCEEDED(core->voice_->SetInterest(kStreamEvents, kStreamEvents)) &&
        SUCCEEDED(core->voice_->SetNotifyWin32Event())) {
      HANDLE notify = core->voice_->GetNotifyEventHandle();  // owned by the voice
      if (notify != INVALID_HANDLE_VALUE) core->notify_ = notify;
    }
    return core;
  }

  explicit VoiceCore(VoiceEventCallback onEvent) : onEvent_(std::move(onEvent)) {}
  VoiceCore(const VoiceCore&) = delete;
  VoiceCore& operator=(const VoiceCore&) = delete;
  ~VoiceCore() {
    if (!voice_) return;
    // Drop what is queued, and let a paused voice go: a paused SpVoice holds
    // its queue until it is resumed.
    voice_->Speak(nullptr, SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr);
    voice_->Resume();
  }

  // Null when the voice gives no events.
  HANDLE notifyEvent() const { return notify_; }

  void drainEvents() {
    // Re-armed before draining, so an event queued meanwhile signals again
    // whether the voice made its event auto- or manual-reset.
    ResetEvent(notify_);
    SPEVENT event{};
    ULONG fetched = 0;
    while (voice_->GetEvents(1, &event, &fetched) == S_OK && fetched == 1) {
      const auto id = static_cast<SPEVENTENUM>(event.eEventId);
      clearEvent(event);
      if (!onEvent_) continue;
      if (id == SPEI_START_INPUT_STREAM) onEvent_(kSpeechStart);
      if (id == SPEI_END_INPUT_STREAM) onEvent_(kSpeechEnd);
    }
  }

  std::vector<std::string> voiceDescriptions() {
    std::vector<std::string> descriptions;
    tokens_.clear();
    ComPtr<IEnumSpObjectTokens> tokens;
    if (FAILED(SpEnumTokens(SPCAT_VOICES, nullptr, nullptr, tokens.put()))) return descriptions;
    for (;;) {
      ComPtr<ISpObjectToken> token;
      ULONG fetched = 0;
      if (tokens->Next(1, token.put(), &fetched) != S_OK || fetched != 1) break;
      descriptions.push_back(voiceDescription(token.get()));
      tokens_.push_back(std::move(token));
    }
    return descriptions;
  }

  bool selectVoice(std::size_t index) {
    return index < tokens_.size() && SUCCEEDED(voice_->SetVoice(tokens_[index].get()));
  }

  bool pause() { return SUCCEEDED(voice_->Pause()); }

  bool speak(int mode, std::string_view text) {
    DWORD flags = SPF_ASYNC;
    switch (mode) {
      case kSpeakText:
        flags |= SPF_IS_NOT_XML;
        break;
      case kSpeakFile:
        flags |= SPF_IS_FILENAME;
        break;
      case kSpeakXml:
        flags |= SPF_IS_XML;
        break;
      default:
        return false;
    }
    const std::wstring wide = win32::widen(text);
    return SUCCEEDED(voice_->Speak(wide.c_str(), flags, nullptr));
  }

  bool waitUntilDone(int timeoutMs) {
    return voice_->WaitUntilDone(timeoutMs < 0 ? INFINITE : static_cast<ULONG>(timeoutMs)) == S_OK;
  }

 private:
  VoiceEventCallback onEvent_;
  ComPtr<ISpVoice> voice_;
  std::vector<ComPtr<ISpObjectToken>> tokens_;
  HANDLE notify_ = nullptr;
};

// The one thread of the engine that its voices live on, for the engine's
// whole life. A voice is created, used and released in this thread's
// apartment, whichever thread asks: COM is initialised once here and
// balanced here, and the threads that ask (short-lived reading threads among
// them) are left as they were. They hand it an operation and wait for it.
class SpeechThread {
 public:
  SpeechThread() {
    if (!wake_.get()) return;
    thread_ = std::thread([this] { loop(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return started_; });
  }
  SpeechThread(const SpeechThread&) = delete;
  SpeechThread& operator=(const SpeechThread&) = delete;
  ~SpeechThread() { stop(); }

  // Ends the thread, releasing the voices still there. It answers every
  // operation handed to it before, so a caller still waiting gets its answer;
  // later ones are refused.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    if (thread_.joinable()) {
      SetEvent(wake_.get());
      thread_.join();
    }
  }

  // Runs `op` on the speech thread and returns when it has run; false, and
  // `op` not run, when the thread has ended or never started.
  bool run(const std::function<void()>& op) {
    if (std::this_thread::get_id() == threadId_) {
      op();
      return true;
    }
    Operation operation{&op};
    std::unique_lock lock(mutex_);
    if (stopping_ || !running_) return false;
    queue_.push_back(&operation);
    SetEvent(wake_.get());
    changed_.wait(lock, [&] { return operation.done; });
    return true;
  }

  // On the speech thread only.
  std::uint64_t add(std::unique_ptr<VoiceCore> voice) {
    voices_.emplace(++lastVoice_, std::move(voice));
    return lastVoice_;
  }
  VoiceCore* find(std::uint64_t id) {
    auto it = voices_.find(id);
    return it == voices_.end() ? nullptr : it->second.get();
  }
  void remove(std::uint64_t id) { voices_.erase(id); }

 private:
  struct Operation {
    const std::function<void()>* op;
    bool done = false;
  };

  void loop() {
    // The voices' home: a single-threaded apartment whose messages this
    // thread dispatches while it waits.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      std::lock_guard lock(mutex_);
      threadId_ = std::this_thread::get_id();
      running_ = SUCCEEDED(com);
      started_ = true;
    }
    changed_.notify_all();
    if (FAILED(com)) return;

    std::vector<HANDLE> handles;
    std::vector<VoiceCore*> watched;
    for (;;) {
      handles.assign(1, wake_.get());
      watched.assign(1, nullptr);
      for (auto& [id, voice] : voices_) {
        if (!voice->notifyEvent() || handles.size() >= MAXIMUM_WAIT_OBJECTS - 1) continue;
        handles.push_back(voice->notifyEvent());
        watched.push_back(voice.get());
      }
      const DWORD count = static_cast<DWORD>(handles.size());
      const DWORD signalled = MsgWaitForMultipleObjectsEx(count, handles.data(), INFINITE,
                                                          QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (signalled == WAIT_OBJECT_0) {
        if (!runQueued()) break;
      } else if (signalled > WAIT_OBJECT_0 && signalled < WAIT_OBJECT_0 + count) {
        watched[signalled - WAIT_OBJECT_0]->drainEvents();
      } else if (signalled == WAIT_OBJECT_0 + count) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      } else {
        break;  // the wait itself failed: nothing more can be served
      }
    }
    {
      std::lock_guard lock(mutex_);
      running_ = false;
    }
    runQueued();  // what was handed over before the end is still answered
    voices_.clear();
    CoUninitialize();
  }

  // Runs what is queued, one after the other; false once the thread is to end.
  bool runQueued() {
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) {
      Operation* operation = queue_.front();
      queue_.pop_front();
      lock.unlock();
      (*operation->op)();
      lock.lock();
      operation->done = true;
      changed_.notify_all();
    }
    return !stopping_;
  }

  EventHandle wake_;  // an operation is queued, or the thread is to end
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Operation*> queue_;
  bool started_ = false;
  bool running_ = false;
  bool stopping_ = false;
  std::thread::id threadId_;
  // Touched on the speech thread only.
  std::map<std::uint64_t, std::unique_ptr<VoiceCore>> voices_;
  std::uint64_t lastVoice_ = 0;
  std::thread thread_;
};

// A voice as the portable code sees it: each operation runs on the speech
// thread.
class SapiVoice final : public SpeechVoice {
 public:
  SapiVoice(std::shared_ptr<SpeechThread> thread, std::uint64_t id)
      : thread_(std::move(thread)), id_(id) {}
  SapiVoice(const SapiVoice&) = delete;
  SapiVoice& operator=(const SapiVoice&) = delete;
  ~SapiVoice() override {
    thread_->run([this] { thread_->remove(id_); });
  }

  std::vector<std::string> voiceDescriptions() override {
    std::vector<std::string> descriptions;
    onVoice([&](VoiceCore& v) { descriptions = v.voiceDescriptions(); });
    return descriptions;
  }
  bool selectVoice(std::size_t index) override {
    bool ok = false;
    onVoice([&](VoiceCore& v) { ok = v.selectVoice(index); });
    return ok;
  }
  bool pause() override {
    bool ok = false;
    onVoice([&](VoiceCore& v) { ok = v.pause(); });
    return ok;
  }
  bool speak(int mode, std::string_view text) override {
    bool ok = false;
    onVoice([&](VoiceCore& v) { ok = v.speak(mode, text); });
    return ok;
  }
  bool waitUntilDone(int timeoutMs) override {
    bool ok = false;
    onVoice([&](VoiceCore& v) { ok = v.waitUntilDone(timeoutMs); });
    return ok;
  }

 private:
  template <class Op>
  void onVoice(Op op) {
    thread_->run([&] {
      if (VoiceCore* voice = thread_->find(id_)) op(*voice);
    });
  }

  std::shared_ptr<SpeechThread> thread_;
  std::uint64_t id_;
};

class SapiEngine final : public SpeechEngine {
 public:
  SapiEngine() = default;
  SapiEngine(const SapiEngine&) = delete;
  SapiEngine& operator=(const SapiEngine&) = delete;
  ~SapiEngine() override {
    std::lock_guard lock(mutex_);
    if (thread_) thread_->stop();
  }

  std::unique_ptr<SpeechVoice> createVoice(VoiceEventCallback onEvent) override {
    std::shared_ptr<SpeechThread> thread = speechThread();
    std::uint64_t id = 0;
    thread->run([&] {
      if (std::unique_ptr<VoiceCore> voice = VoiceCore::create(std::move(onEvent)))
        id = thread->add(std::move(voice));
    });
    if (id == 0) return nullptr;
    return std::make_unique<SapiVoice>(std::move(thread), id);
  }

 private:
  // Started with the first voice, once the program's UI thread has set up
  // its own apartment: the first single-threaded apartment of a process is
  // its main one, where COM puts every object that names no threading
  // model, and that must stay the UI thread's.
  std::shared_ptr<SpeechThread> speechThread() {
    std::lock_guard lock(mutex_);
    if (!thread_) thread_ = std::make_shared<SpeechThread>();
    return thread_;
  }

  std::mutex mutex_;
  // Shared with the voices, which may outlive the engine: the thread ends
  // with the engine (releasing the voices left), and a voice's operations
  // after that are refused.
  std::shared_ptr<SpeechThread> thread_;
};

}  // namespace

std::unique_ptr<SpeechEngine> createSapiEngine() {
  return std::make_unique<SapiEngine>();
}

}  // namespace zandrel
