#include "runtime/speech_sapi.h"

#include <windows.h>

#include <sapi.h>
#include <sphelper.h>

#include <optional>
#include <thread>
#include <vector>

#include "runtime/com_win32.h"
#include "runtime/support_win32.h"

namespace zandrel {
namespace {

using win32::ComApartment;
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

// An event object owned by us.
class EventHandle {
 public:
  EventHandle() : h_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
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

class SapiVoice final : public SpeechVoice {
 public:
  explicit SapiVoice(VoiceEventCallback onEvent)
      : creator_(GetCurrentThreadId()), onEvent_(std::move(onEvent)) {
    if (FAILED(
            CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, voice_.putVoid()))) {
      voice_.reset();
      return;
    }
    // Start and end of every request, signalled on an event that a watcher
    // thread of this voice drains. A callback or window message would arrive
    // only on the creating thread, which for a reading thread has ended long
    // before the voice has finished.
    if (SUCCEEDED(voice_->SetInterest(kStreamEvents, kStreamEvents)) &&
        SUCCEEDED(voice_->SetNotifyWin32Event())) {
      HANDLE notify = voice_->GetNotifyEventHandle();  // owned by the voice
      if (notify && notify != INVALID_HANDLE_VALUE && stop_.get())
        watcher_ = std::thread([this, notify] { watch(notify); });
    }
  }

  SapiVoice(const SapiVoice&) = delete;
  SapiVoice& operator=(const SapiVoice&) = delete;

  ~SapiVoice() override {
    if (watcher_.joinable()) {
      SetEvent(stop_.get());
      watcher_.join();
    }
    if (voice_) {
      // Drop what is queued, and let a paused voice go: a paused SpVoice
      // holds its queue until it is resumed.
      voice_->Speak(nullptr, SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr);
      voice_->Resume();
      voice_.reset();
    }
    tokens_.clear();
    // COM initialisation is per thread: it can only be balanced on the thread
    // that made it. A voice released elsewhere (a reset on a reading thread)
    // must not take that thread's own initialisation away.
    if (GetCurrentThreadId() != creator_) apartment_.release();
  }

  bool ok() const { return static_cast<bool>(voice_); }

  std::vector<std::string> voiceDescriptions() override {
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

  bool selectVoice(std::size_t index) override {
    if (!voice_ || index >= tokens_.size()) return false;
    return SUCCEEDED(voice_->SetVoice(tokens_[index].get()));
  }

  bool pause() override { return voice_ && SUCCEEDED(voice_->Pause()); }

  bool speak(int mode, std::string_view text) override {
    if (!voice_) return false;
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

  bool waitUntilDone(int timeoutMs) override {
    if (!voice_) return false;
    return voice_->WaitUntilDone(timeoutMs < 0 ? INFINITE : static_cast<ULONG>(timeoutMs)) == S_OK;
  }

 private:
  // Holds the creating thread's COM initialisation; release() forgets it.
  class Apartment {
   public:
    Apartment() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    ~Apartment() {
      if (initialised_) CoUninitialize();
    }
    void release() { initialised_ = false; }

   private:
    bool initialised_;
  };

  void watch(HANDLE notify) {
    // The voice is free-threaded inside: its events are read here directly.
    const HRESULT mta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE handles[2] = {stop_.get(), notify};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      // Re-armed before draining, so an event queued meanwhile signals again
      // whether the voice made its event auto- or manual-reset.
      ResetEvent(notify);
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
    if (SUCCEEDED(mta)) CoUninitialize();
  }

  Apartment apartment_;  // first in, last out: outlives every COM reference
  DWORD creator_;
  VoiceEventCallback onEvent_;
  ComPtr<ISpVoice> voice_;
  std::vector<ComPtr<ISpObjectToken>> tokens_;
  EventHandle stop_;
  std::thread watcher_;
};

class SapiEngine final : public SpeechEngine {
 public:
  std::unique_ptr<SpeechVoice> createVoice(VoiceEventCallback onEvent) override {
    auto voice = std::make_unique<SapiVoice>(std::move(onEvent));
    if (!voice->ok()) return nullptr;
    return voice;
  }
};

}  // namespace

std::unique_ptr<SpeechEngine> createSapiEngine() {
  return std::make_unique<SapiEngine>();
}

}  // namespace zandrel
