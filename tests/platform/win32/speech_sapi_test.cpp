// The SAPI engine against the system's SpVoice: the voice list read from the
// voice tokens (description in the UI language, else the default one), the
// callers' COM state left alone, and the end of the engine under callers.

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/speech_sapi.h"
#include "runtime/support_win32.h"

namespace zandrel {
namespace {

constexpr wchar_t kTokens[] = L"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens";

// Voice tokens of the test, removed again afterwards.
class TestVoices {
 public:
  TestVoices() {
    add(L"ZandrelTestVoiceA", L"Zandrel Test English Voice", nullptr, nullptr);
    wchar_t language[16];
    wsprintfW(language, L"%x", GetUserDefaultUILanguage());
    add(L"ZandrelTestVoiceB", L"Zandrel Test Default Name", language, L"Zandrel 测试中文语音");
  }
  ~TestVoices() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kTokens) + L"\\ZandrelTestVoiceA").c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kTokens) + L"\\ZandrelTestVoiceB").c_str());
  }
  TestVoices(const TestVoices&) = delete;
  TestVoices& operator=(const TestVoices&) = delete;

 private:
  static void set(HKEY key, const wchar_t* name, const wchar_t* value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }
  static void add(const wchar_t* token, const wchar_t* description, const wchar_t* language,
                  const wchar_t* localised) {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kTokens) + L"\\" + token;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
      return;
    }
    set(key, nullptr, description);
    if (language) set(key, language, localised);
    RegCloseKey(key);
  }
};

int indexOf(const std::vector<std::string>& list, const std::string& text) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == text) return static_cast<int>(i);
  }
  return -1;
}

TEST(SapiEngine, ListsTheInstalledVoicesInTheUiLanguageFirst) {
  TestVoices voices;
  std::unique_ptr<SpeechEngine> engine = createSapiEngine();
  std::unique_ptr<SpeechVoice> voice = engine->createVoice(nullptr);
  ASSERT_NE(voice, nullptr) << "no SpVoice on this system";
  const std::vector<std::string> list = voice->voiceDescriptions();
  const int a = indexOf(list, "Zandrel Test English Voice");
  const int b = indexOf(list, "Zandrel 测试中文语音");
  EXPECT_GE(a, 0);
  EXPECT_GE(b, 0);
  EXPECT_EQ(indexOf(list, "Zandrel Test Default Name"), -1);
  // The application's rule picks the Chinese voice out of this very list.
  const std::optional<std::size_t> chosen = chooseVoice(list);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(list[*chosen], "Zandrel 测试中文语音");
  EXPECT_FALSE(voice->selectVoice(list.size()));
}

TEST(SapiEngine, RefusesModesItDoesNotKnow) {
  std::unique_ptr<SpeechVoice> voice = createSapiEngine()->createVoice(nullptr);
  ASSERT_NE(voice, nullptr);
  EXPECT_FALSE(voice->speak(kSpeakNothing, "x"));
  EXPECT_FALSE(voice->speak(-1, "x"));
}

// True when the calling thread has no COM initialisation left.
bool comUninitialised() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr == S_OK;
}

// A reading thread creates the voice and ends; another releases it. Neither
// is left with a COM initialisation it did not make (each one left behind
// was a leak per F1).
TEST(SapiEngine, LeavesTheCallingThreadsComAsItWas) {
  std::unique_ptr<SpeechEngine> engine = createSapiEngine();
  std::unique_ptr<SpeechVoice> voice;
  bool creatorClean = false;
  std::thread creator([&] {
    voice = engine->createVoice(nullptr);
    creatorClean = comUninitialised();
  });
  creator.join();
  ASSERT_NE(voice, nullptr) << "no SpVoice on this system";
  EXPECT_TRUE(creatorClean);

  bool releaserClean = false;
  bool ownApartmentKept = false;
  std::thread releaser([&] {
    voice->pause();
    voice.reset();
    releaserClean = comUninitialised();
    // A thread with an apartment of its own keeps it over a voice's life.
    const HRESULT own = CoInitialize(nullptr);
    engine->createVoice(nullptr).reset();
    const HRESULT again = CoInitialize(nullptr);
    ownApartmentKept = own == S_OK && again == S_FALSE;
    if (SUCCEEDED(again)) CoUninitialize();
    if (SUCCEEDED(own)) CoUninitialize();
  });
  releaser.join();
  EXPECT_TRUE(releaserClean);
  EXPECT_TRUE(ownApartmentKept);
}

// The engine ends at the end of the program while reading threads may be
// waiting on its voices: each gets its answer, later calls are refused, and
// voices released after the engine are released without harm.
TEST(SapiEngine, EndsWhileOtherThreadsWaitOnItsVoices) {
  std::unique_ptr<SpeechEngine> engine = createSapiEngine();
  std::vector<std::unique_ptr<SpeechVoice>> voices;
  for (int i = 0; i < 3; ++i) {
    voices.push_back(engine->createVoice(nullptr));
    ASSERT_NE(voices.back(), nullptr);
  }
  std::atomic<bool> engineGone{false};
  std::atomic<int> calls{0};
  std::vector<std::thread> readers;
  for (auto& voice : voices) {
    readers.emplace_back([&, v = voice.get()] {
      for (;;) {
        const bool answered = v->pause();
        ++calls;
        if (!answered && engineGone) break;
      }
    });
  }
  while (calls < 30) std::this_thread::yield();
  engine.reset();
  engineGone = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_FALSE(voices.front()->speak(kSpeakText, "x"));
  voices.clear();
}

}  // namespace
}  // namespace zandrel
