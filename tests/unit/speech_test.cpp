// The speech object over a fake engine: its empty and voiced states, the
// speak modes, the receiver of start and end notifications, and events from
// voices that are already gone.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fakes/fake_speech.h"
#include "runtime/speech.h"
#include "runtime/spoken_text.h"

namespace zandrel {
namespace {

using testing::FakeSpeechEngine;
using testing::RecordingSink;
using Log = std::vector<std::string>;

class SpeechObject : public ::testing::Test {
 protected:
  FakeSpeechEngine engine;
  RecordingSink received;
};

TEST_F(SpeechObject, WithoutVoiceEverythingFailsAndEveryResetTriesAgain) {
  engine.setAvailable(false);
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  EXPECT_TRUE(speech.empty());
  EXPECT_FALSE(speech.pause());
  for (int mode = 0; mode <= 3; ++mode) {
    EXPECT_FALSE(speech.speak(mode, "甲", 0, WindowHandle{5})) << "mode " << mode;
  }
  speech.destroy();  // nothing to destroy
  speech.reset();
  speech.reset();
  EXPECT_EQ(engine.log(), (Log{"create", "create", "create"}));

  // The engine comes back: the next reset finds it.
  engine.setAvailable(true);
  speech.reset();
  EXPECT_FALSE(speech.empty());
  EXPECT_TRUE(speech.speak(kSpeakText, "甲"));
}

TEST_F(SpeechObject, ConstructKeepsTheVoiceItHasAndResetReplacesIt) {
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  speech.construct();
  EXPECT_EQ(engine.voicesCreated(), 1u);
  speech.reset();
  EXPECT_EQ(engine.log(), (Log{"create", "destroy", "create"}));
  EXPECT_EQ(engine.liveVoices(), 1u);
  speech.destroy();
  EXPECT_TRUE(speech.empty());
  EXPECT_EQ(engine.liveVoices(), 0u);
  EXPECT_FALSE(speech.pause());
}

TEST_F(SpeechObject, PauseReportsTheVoicesAnswer) {
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  EXPECT_TRUE(speech.pause());
  engine.setPauseResult(false);
  EXPECT_FALSE(speech.pause());
}

TEST_F(SpeechObject, ModesReachTheVoiceAsTheyShould) {
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  engine.clearLog();

  // Mode 0 is question markup: the voice gets what is to be heard.
  const std::string markup = "1．<b>驾驶</b>&nbsp;机动车<br>应当";
  EXPECT_TRUE(speech.speak(kSpeakText, markup));
  // Files and XML are the engine's to read, as given.
  EXPECT_TRUE(speech.speak(kSpeakFile, "/tmp/问题 1.txt"));
  EXPECT_TRUE(speech.speak(kSpeakXml, "<speak>甲<break/>乙</speak>"));
  // Mode 3 speaks nothing and succeeds; other modes are refused untouched.
  EXPECT_TRUE(speech.speak(kSpeakNothing, "甲"));
  EXPECT_FALSE(speech.speak(-1, "甲"));
  EXPECT_FALSE(speech.speak(4, "甲"));
  EXPECT_EQ(engine.log(), (Log{"speak:0:" + spokenTextFromMarkup(markup), "speak:1:/tmp/问题 1.txt",
                               "speak:2:<speak>甲<break/>乙</speak>"}));
  EXPECT_EQ(spokenTextFromMarkup(markup), "1．驾驶 机动车。应当");

  // The engine's refusal is the result.
  engine.setAcceptSpeech(false);
  EXPECT_FALSE(speech.speak(kSpeakText, "甲"));
  EXPECT_TRUE(speech.speak(kSpeakNothing, "甲"));
}

TEST_F(SpeechObject, WaitsOnlyWhenAskedAndOnlyForAcceptedSpeech) {
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  engine.clearLog();
  speech.speak(kSpeakText, "甲");
  speech.speak(kSpeakText, "乙", 500);
  speech.speak(kSpeakText, "丙", -1);
  // A wait that runs out does not undo the acceptance.
  engine.setWaitResult(false);
  EXPECT_TRUE(speech.speak(kSpeakText, "丁", 10));
  engine.setAcceptSpeech(false);
  EXPECT_FALSE(speech.speak(kSpeakText, "戊", 500));
  EXPECT_EQ(engine.log(), (Log{"speak:0:甲", "speak:0:乙", "wait:500", "speak:0:丙", "wait:-1",
                               "speak:0:丁", "wait:10", "speak:0:戊"}));
}

TEST_F(SpeechObject, StartAndEndReachTheReceiverOnceOneIsGiven) {
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  engine.setEventsOnSpeak(true);

  // No receiver yet: the events stay unread.
  speech.speak(kSpeakText, "甲");
  engine.emitLatest(kSpeechStart);
  EXPECT_TRUE(received.deliveries().empty());

  speech.speak(kSpeakText, "乙", 0, WindowHandle{42});
  const auto deliveries = received.deliveries();
  ASSERT_EQ(deliveries.size(), 2u);
  for (const auto& d : deliveries) {
    EXPECT_EQ(d.receiver, WindowHandle{42});
    EXPECT_EQ(d.message, 0x8075u);
    EXPECT_EQ(d.lParam, 0);
  }
  EXPECT_EQ(received.events(), (std::vector<std::uintptr_t>{1, 2}));

  // The receiver stays with the object, across a reset too, until another is given.
  speech.reset();
  speech.speak(kSpeakText, "丙");
  speech.speak(kSpeakNothing, "", 0, WindowHandle{43});
  engine.emitLatest(kSpeechEnd);
  const auto later = received.deliveries();
  ASSERT_EQ(later.size(), 5u);
  EXPECT_EQ(later[2].receiver, WindowHandle{42});
  EXPECT_EQ(later[3].receiver, WindowHandle{42});
  EXPECT_EQ(later[4].receiver, WindowHandle{43});
}

TEST_F(SpeechObject, AGoneVoicesLateEventsReachNobody) {
  {
    TextToSpeech speech(engine, received.sink());
    speech.construct();
    speech.speak(kSpeakNothing, "", 0, WindowHandle{7});
    speech.reset();
    // The first voice is gone: what it still reports is dropped...
    engine.emit(0, kSpeechStart);
    engine.emit(0, kSpeechEnd);
    EXPECT_TRUE(received.deliveries().empty());
    // ...while the new voice is heard.
    engine.emit(1, kSpeechStart);
    EXPECT_EQ(received.events(), (std::vector<std::uintptr_t>{1}));
    speech.destroy();
    engine.emit(1, kSpeechEnd);
    EXPECT_EQ(received.events().size(), 1u);
    speech.construct();
  }
  // The object itself is gone now; its voices' callbacks must still be safe.
  engine.emit(0, kSpeechEnd);
  engine.emit(1, kSpeechEnd);
  engine.emit(2, kSpeechEnd);
  EXPECT_EQ(received.events().size(), 1u);
}

TEST_F(SpeechObject, EventsFromAnotherThreadWhileVoicesComeAndGo) {
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  speech.speak(kSpeakNothing, "", 0, WindowHandle{9});
  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0};
  std::thread engineThread([&] {
    while (!stop) {
      // Always one of the newest voices, often one being replaced.
      engine.emitLatest(kSpeechStart);
      engine.emitLatest(kSpeechEnd);
      ++rounds;
    }
  });
  for (int i = 0; i < 300; ++i) {
    // Each reset overlaps the other thread's emitting.
    const int seen = rounds;
    while (rounds == seen) std::this_thread::yield();
    speech.reset();
  }
  speech.destroy();
  const std::size_t afterDestroy = received.deliveries().size();
  // Let the other thread go on against the destroyed voice for a while.
  const int roundsAtDestroy = rounds;
  while (rounds < roundsAtDestroy + 200) std::this_thread::yield();
  stop = true;
  engineThread.join();
  EXPECT_GT(afterDestroy, 0u);
  EXPECT_EQ(received.deliveries().size(), afterDestroy);
  for (const auto& d : received.deliveries()) EXPECT_EQ(d.receiver, WindowHandle{9});
}

TEST(VoiceChoice, FirstChineseDescriptionInTheEnginesOrder) {
  EXPECT_EQ(chooseVoice({"English (America)", "Microsoft Huihui - Chinese (Simplified)",
                         "Chinese (Cantonese)"}),
            std::optional<std::size_t>(1));
  // Upper or lower case, and the Chinese name of the language.
  EXPECT_EQ(chooseVoice({"en", "VOICE FOR CHINESE"}), std::optional<std::size_t>(1));
  EXPECT_EQ(chooseVoice({"en", "普通话 中文 女声", "chinese"}), std::optional<std::size_t>(1));
  EXPECT_EQ(chooseVoice({"English", "Japanese", "中国"}), std::nullopt);
  EXPECT_EQ(chooseVoice({}), std::nullopt);
}

TEST_F(SpeechObject, ConstructChoosesTheChineseVoiceOrKeepsTheDefault) {
  engine.setDescriptions({"English (Great Britain)", "Kangxi 中文", "Chinese (Mandarin)"});
  TextToSpeech speech(engine, received.sink());
  speech.construct();
  EXPECT_EQ(engine.log(), (Log{"create", "select:1"}));

  engine.setDescriptions({"English (Great Britain)", "German"});
  engine.clearLog();
  speech.reset();
  EXPECT_EQ(engine.log(), (Log{"destroy", "create"}));
}

}  // namespace
}  // namespace zandrel
