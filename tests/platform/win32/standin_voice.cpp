// A stand-in SpVoice for the Wine tests: an in-process COM server that
// answers what zandrel.exe asks of ISpVoice and ISpEventSource, speaks
// nothing, and writes every call to a log so a test can see what the program
// did with its voice. Registered for CLSID_SpVoice in a test's own prefix.
//
// Environment:
//   ZANDREL_STANDIN_VOICE_LOG       the log file (one JSON object a line)
//   ZANDREL_STANDIN_VOICE_REFUSE=1  Speak refuses every text
//   ZANDREL_STANDIN_VOICE_SPEAK_MS  how long a text "is spoken" (default 300)
//
// A text that is accepted starts at once (SPEI_START_INPUT_STREAM) and ends
// after the speaking time (SPEI_END_INPUT_STREAM), unless the voice is paused
// meanwhile, purged or released. Message 0x8075, which the program posts to
// its notification receiver, is logged from the receiving thread's queue.

#include <windows.h>

#include <objbase.h>
#include <sapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {

HINSTANCE dllInstance = nullptr;
constexpr UINT kSpeechNotification = 0x8075;

std::wstring environment(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

// One log line under construction: {"call": ..., "key": value, ...}.
class Record {
 public:
  explicit Record(const char* call) {
    line_ = "{\"call\": \"";
    line_ += call;
    line_ += '"';
    add("thread", GetCurrentThreadId());
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    const char* apartment = "none";
    if (SUCCEEDED(CoGetApartmentType(&type, &qualifier))) {
      apartment = type == APTTYPE_STA                          ? "STA"
                  : type == APTTYPE_MAINSTA                    ? "MAINSTA"
                  : type == APTTYPE_NA                         ? "NA"
                  : qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA ? "implicit MTA"
                                                               : "MTA";
    }
    add("apartment", apartment);
  }
  Record& add(const char* key, unsigned long long value) {
    line_ += ", \"" + std::string(key) + "\": " + std::to_string(value);
    return *this;
  }
  Record& add(const char* key, long long value) {
    line_ += ", \"" + std::string(key) + "\": " + std::to_string(value);
    return *this;
  }
  Record& add(const char* key, unsigned long value) {
    return add(key, static_cast<unsigned long long>(value));
  }
  Record& add(const char* key, const char* value) {
    line_ += ", \"" + std::string(key) + "\": \"" + value + '"';
    return *this;
  }
  // UTF-16 as given, every unit outside printable ASCII escaped; null stays null.
  Record& add(const char* key, const wchar_t* value) {
    line_ += ", \"" + std::string(key) + "\": ";
    if (!value) {
      line_ += "null";
      return *this;
    }
    line_ += '"';
    for (const wchar_t* p = value; *p; ++p) {
      const unsigned unit = static_cast<unsigned short>(*p);
      if (unit >= 0x20 && unit < 0x7f && unit != '"' && unit != '\\') {
        line_ += static_cast<char>(unit);
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", unit);
        line_ += escaped;
      }
    }
    line_ += '"';
    return *this;
  }
  ~Record() { write(line_ + "}\n"); }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

 private:
  static void write(const std::string& line) {
    static std::mutex mutex;
    static const std::wstring path = environment(L"ZANDREL_STANDIN_VOICE_LOG");
    if (path.empty()) return;
    std::lock_guard lock(mutex);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  std::string line_;
};

// The program posts its speech notifications to a window of its UI thread;
// a message hook there logs each one as that thread takes it from its queue.
LRESULT CALLBACK messageHook(int code, WPARAM removal, LPARAM data) {
  const MSG* msg = reinterpret_cast<const MSG*>(data);
  if (code == HC_ACTION && removal == PM_REMOVE && msg->message == kSpeechNotification) {
    RECT rc{};
    GetWindowRect(msg->hwnd, &rc);
    MapWindowPoints(HWND_DESKTOP, GetParent(msg->hwnd), reinterpret_cast<POINT*>(&rc), 2);
    wchar_t kind[64] = {};
    GetClassNameW(msg->hwnd, kind, 64);
    Record("message")
        .add("message", static_cast<unsigned long long>(msg->message))
        .add("wParam", static_cast<unsigned long long>(msg->wParam))
        .add("lParam", static_cast<long long>(msg->lParam))
        .add("class", kind)
        .add("left", static_cast<long long>(rc.left))
        .add("top", static_cast<long long>(rc.top));
  }
  return CallNextHookEx(nullptr, code, removal, data);
}

BOOL CALLBACK findOwnWindow(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !GetMenu(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// Hooks the thread of the process's main window (the one with a menu) once
// that window exists.
void hookUiThread() {
  static std::mutex mutex;
  static bool hooked = false;
  std::lock_guard lock(mutex);
  if (hooked) return;
  HWND main = nullptr;
  EnumWindows(&findOwnWindow, reinterpret_cast<LPARAM>(&main));
  if (!main) return;
  const DWORD uiThread = GetWindowThreadProcessId(main, nullptr);
  hooked = SetWindowsHookExW(WH_GETMESSAGE, &messageHook, dllInstance, uiThread) != nullptr;
  Record("hooked")
      .add("uiThread", static_cast<unsigned long>(uiThread))
      .add("ok", hooked ? 1ULL : 0ULL);
}

constexpr ULONGLONG eventBit(SPEVENTENUM id) {
  return 1ULL << id;
}

std::atomic<unsigned long> voicesMade{0};

class StandInVoice final : public ISpVoice {
 public:
  StandInVoice()
      : id_(++voicesMade),
        refuse_(environment(L"ZANDREL_STANDIN_VOICE_REFUSE") == L"1"),
        speakMs_(speakingTime()) {
    Record("create").add("voice", id_);
    reader_ = std::thread([this] { readAloud(); });
  }
  StandInVoice(const StandInVoice&) = delete;
  StandInVoice& operator=(const StandInVoice&) = delete;
  ~StandInVoice() {
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    changed_.notify_all();
    reader_.join();
    if (notify_) CloseHandle(notify_);
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISpNotifySource || iid == IID_ISpEventSource ||
        iid == IID_ISpVoice) {
      *out = static_cast<ISpVoice*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      Record("release").add("voice", id_);
      delete this;
    }
    return left;
  }

  // ISpNotifySource: only the Win32 event is offered.
  HRESULT STDMETHODCALLTYPE SetNotifySink(ISpNotifySink*) override {
    return unexpected("SetNotifySink");
  }
  HRESULT STDMETHODCALLTYPE SetNotifyWindowMessage(HWND, UINT, WPARAM, LPARAM) override {
    return unexpected("SetNotifyWindowMessage");
  }
  HRESULT STDMETHODCALLTYPE SetNotifyCallbackFunction(SPNOTIFYCALLBACK*, WPARAM, LPARAM) override {
    return unexpected("SetNotifyCallbackFunction");
  }
  HRESULT STDMETHODCALLTYPE SetNotifyCallbackInterface(ISpNotifyCallback*, WPARAM,
                                                       LPARAM) override {
    return unexpected("SetNotifyCallbackInterface");
  }
  HRESULT STDMETHODCALLTYPE SetNotifyWin32Event() override {
    Record("SetNotifyWin32Event").add("voice", id_);
    std::lock_guard lock(mutex_);
    if (!notify_) notify_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return notify_ ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE WaitForNotifyEvent(DWORD) override {
    return unexpected("WaitForNotifyEvent");
  }
  HANDLE STDMETHODCALLTYPE GetNotifyEventHandle() override {
    Record("GetNotifyEventHandle").add("voice", id_);
    std::lock_guard lock(mutex_);
    return notify_ ? notify_ : INVALID_HANDLE_VALUE;
  }

  // ISpEventSource
  HRESULT STDMETHODCALLTYPE SetInterest(ULONGLONG interest, ULONGLONG queued) override {
    Record("SetInterest").add("voice", id_).add("interest", interest).add("queued", queued);
    std::lock_guard lock(mutex_);
    interest_ = interest;
    queued_ = queued;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetEvents(ULONG count, SPEVENT* events, ULONG* fetched) override {
    if (!events) return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    while (n < count && !events_.empty()) {
      events[n++] = events_.front();
      events_.pop_front();
    }
    if (fetched) *fetched = n;
    Record("GetEvents").add("voice", id_).add("fetched", static_cast<unsigned long>(n));
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetInfo(SPEVENTSOURCEINFO*) override { return unexpected("GetInfo"); }

  // ISpVoice
  HRESULT STDMETHODCALLTYPE SetOutput(IUnknown*, WINBOOL) override {
    return unexpected("SetOutput");
  }
  HRESULT STDMETHODCALLTYPE GetOutputObjectToken(ISpObjectToken**) override {
    return unexpected("GetOutputObjectToken");
  }
  HRESULT STDMETHODCALLTYPE GetOutputStream(ISpStreamFormat**) override {
    return unexpected("GetOutputStream");
  }
  HRESULT STDMETHODCALLTYPE Pause() override {
    Record("Pause").add("voice", id_);
    std::lock_guard lock(mutex_);
    paused_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Resume() override {
    Record("Resume").add("voice", id_);
    {
      std::lock_guard lock(mutex_);
      paused_ = false;
    }
    changed_.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetVoice(ISpObjectToken* token) override {
    WCHAR* id = nullptr;
    if (token) token->GetId(&id);
    Record("SetVoice").add("voice", id_).add("token", id);
    CoTaskMemFree(id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVoice(ISpObjectToken**) override { return unexpected("GetVoice"); }
  HRESULT STDMETHODCALLTYPE Speak(LPCWSTR text, DWORD flags, ULONG* stream) override {
    hookUiThread();
    const bool purge = (flags & SPF_PURGEBEFORESPEAK) != 0;
    const bool speaks = text != nullptr || !purge;
    const bool refused = speaks && refuse_;
    Record("Speak")
        .add("voice", id_)
        .add("flags", static_cast<unsigned long>(flags))
        .add("text", text)
        .add("result", refused ? "refused" : "accepted");
    if (refused) return E_FAIL;
    {
      std::lock_guard lock(mutex_);
      if (purge) {
        for (ULONG cut : queue_) Record("cut").add("voice", id_).add("stream", cut);
        queue_.clear();
      }
      if (speaks) queue_.push_back(++streams_);
      if (stream) *stream = streams_;
    }
    changed_.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SpeakStream(IStream*, DWORD, ULONG*) override {
    return unexpected("SpeakStream");
  }
  HRESULT STDMETHODCALLTYPE GetStatus(SPVOICESTATUS*, LPWSTR*) override {
    return unexpected("GetStatus");
  }
  HRESULT STDMETHODCALLTYPE Skip(LPCWSTR, LONG, ULONG*) override { return unexpected("Skip"); }
  HRESULT STDMETHODCALLTYPE SetPriority(SPVPRIORITY) override { return unexpected("SetPriority"); }
  HRESULT STDMETHODCALLTYPE GetPriority(SPVPRIORITY*) override { return unexpected("GetPriority"); }
  HRESULT STDMETHODCALLTYPE SetAlertBoundary(SPEVENTENUM) override {
    return unexpected("SetAlertBoundary");
  }
  HRESULT STDMETHODCALLTYPE GetAlertBoundary(SPEVENTENUM*) override {
    return unexpected("GetAlertBoundary");
  }
  HRESULT STDMETHODCALLTYPE SetRate(LONG) override { return unexpected("SetRate"); }
  HRESULT STDMETHODCALLTYPE GetRate(LONG*) override { return unexpected("GetRate"); }
  HRESULT STDMETHODCALLTYPE SetVolume(USHORT) override { return unexpected("SetVolume"); }
  HRESULT STDMETHODCALLTYPE GetVolume(USHORT*) override { return unexpected("GetVolume"); }
  HRESULT STDMETHODCALLTYPE WaitUntilDone(ULONG ms) override {
    Record("WaitUntilDone").add("voice", id_).add("ms", static_cast<unsigned long>(ms));
    std::unique_lock lock(mutex_);
    const auto done = [this] { return queue_.empty(); };
    if (ms == INFINITE) {
      changed_.wait(lock, done);
      return S_OK;
    }
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), done) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSpeakTimeout(ULONG) override {
    return unexpected("SetSyncSpeakTimeout");
  }
  HRESULT STDMETHODCALLTYPE GetSyncSpeakTimeout(ULONG*) override {
    return unexpected("GetSyncSpeakTimeout");
  }
  HANDLE STDMETHODCALLTYPE SpeakCompleteEvent() override {
    unexpected("SpeakCompleteEvent");
    return nullptr;
  }
  HRESULT STDMETHODCALLTYPE IsUISupported(LPCWSTR, void*, ULONG, WINBOOL*) override {
    return unexpected("IsUISupported");
  }
  HRESULT STDMETHODCALLTYPE DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG) override {
    return unexpected("DisplayUI");
  }

 private:
  static std::chrono::milliseconds speakingTime() {
    const std::wstring ms = environment(L"ZANDREL_STANDIN_VOICE_SPEAK_MS");
    return std::chrono::milliseconds(ms.empty() ? 300 : _wtoi(ms.c_str()));
  }

  HRESULT unexpected(const char* method) {
    Record("unexpected").add("voice", id_).add("method", method);
    return E_NOTIMPL;
  }

  // Under the lock: queues the event when asked for, and signals it.
  void raise(SPEVENTENUM id, ULONG stream) {
    Record(id == SPEI_START_INPUT_STREAM ? "start" : "end").add("voice", id_).add("stream", stream);
    if (queued_ & eventBit(id)) {
      SPEVENT event{};
      event.eEventId = id;
      event.elParamType = SPET_LPARAM_IS_UNDEFINED;
      event.ulStreamNum = stream;
      events_.push_back(event);
    }
    if ((interest_ & eventBit(id)) && notify_) SetEvent(notify_);
  }

  // The voice's speaking, one queued text after the other.
  void readAloud() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return ending_ || (!queue_.empty() && !paused_); });
      if (ending_) return;
      const ULONG stream = queue_.front();
      raise(SPEI_START_INPUT_STREAM, stream);
      auto left = speakMs_;
      // Paused time does not count; a purge or the end of the voice cuts it.
      while (left.count() > 0) {
        const auto from = std::chrono::steady_clock::now();
        changed_.wait_for(lock, left, [&] {
          return ending_ || paused_ || queue_.empty() || queue_.front() != stream;
        });
        if (ending_ || queue_.empty() || queue_.front() != stream) break;
        left -= std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - from);
        if (paused_) changed_.wait(lock, [&] { return ending_ || !paused_ || queue_.empty(); });
      }
      if (ending_) return;
      if (!queue_.empty() && queue_.front() == stream) {
        queue_.pop_front();
        raise(SPEI_END_INPUT_STREAM, stream);
        changed_.notify_all();
      }
    }
  }

  const unsigned long id_;
  const bool refuse_;
  const std::chrono::milliseconds speakMs_;
  std::atomic<ULONG> references_{1};
  std::mutex mutex_;
  std::condition_variable changed_;
  HANDLE notify_ = nullptr;
  ULONGLONG interest_ = 0;
  ULONGLONG queued_ = 0;
  std::deque<SPEVENT> events_;
  std::deque<ULONG> queue_;  // stream numbers still to speak; the front one speaks
  ULONG streams_ = 0;
  bool paused_ = false;
  bool ending_ = false;
  std::thread reader_;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // One static factory for the life of the DLL, which never unloads.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* voice = new StandInVoice();
    const HRESULT hr = voice->QueryInterface(iid, out);
    voice->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) dllInstance = instance;
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_SpVoice) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return S_FALSE;
}
