// The hotkey service over scripted key snapshots: registrations, edge
// detection, modifiers, second keys, release-edge hotkeys and the two ways a
// handler runs.

#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <vector>

#include "fakes/fake_hooks.h"
#include "hooks/hotkeys.h"

namespace zandrel {
namespace {

using testing::FakeHotkeyPlatform;
using testing::ScopedHookServices;

constexpr int kF1 = 112;
constexpr int kShift = 16;
constexpr int kCtrl = 17;
constexpr int kAlt = 18;
constexpr int kLeftWin = 91;
constexpr int kRightWin = 92;
constexpr int kKeyA = 65;

struct Call {
  char handler;
  std::int32_t id;
  bool operator==(const Call&) const = default;
};
void PrintTo(const Call& call, std::ostream* out) {
  *out << call.handler << ':' << call.id;
}
std::vector<Call> directCalls;

void handlerA(std::int32_t id) {
  directCalls.push_back({'A', id});
}
void handlerB(std::int32_t id) {
  directCalls.push_back({'B', id});
}
// A handler that keeps dispatching while it runs, as a handler that shows a
// modal dialog would: the timer keeps calling the poll.
void nestedPollHandler(std::int32_t id) {
  directCalls.push_back({'N', id});
  PollHotkeys();
  PollHotkeys();
}
void registeringHandler(std::int32_t id) {
  directCalls.push_back({'R', id});
  // Enough new records to move the table's storage.
  for (int vk = 65; vk < 65 + 40; ++vk) AddHotkey(&handlerB, vk, 0, 0, 0, true);
}
void freeingHandler(std::int32_t id) {
  directCalls.push_back({'F', id});
  FreeHotkeyTable();
}

class HotkeyService : public ::testing::Test {
 protected:
  void SetUp() override {
    directCalls.clear();
    CreateHotkeyTable();
  }
  void TearDown() override { FreeHotkeyTable(); }

  const HotkeyRecord& record(std::size_t index) { return CurrentHotkeyTable()->at(index); }
  std::vector<std::int32_t> threadIds() {
    std::vector<std::int32_t> ids;
    for (const auto& start : keys.threads) ids.push_back(start.id);
    return ids;
  }
  // Polls once per step with the key down (true) or fully up (false) and
  // returns how many handler threads were started over all steps.
  std::size_t pollSequence(int vk, std::initializer_list<bool> downs) {
    const std::size_t before = keys.threads.size();
    for (bool down : downs) {
      if (down) {
        keys.down(vk);
      } else {
        keys.up(vk);
      }
      PollHotkeys();
    }
    return keys.threads.size() - before;
  }

  FakeHotkeyPlatform keys;
  ScopedHookServices scope{&keys, nullptr};
};

TEST_F(HotkeyService, RecordsGetConsecutiveIdsAndOnlyTheFirstStartsTheTimer) {
  EXPECT_EQ(AddHotkey(&handlerA, kF1), 1000001);
  ASSERT_EQ(keys.timers.size(), 1u);
  EXPECT_EQ(keys.timers[0].periodMs, 10);
  EXPECT_EQ(keys.timers[0].poll, &PollHotkeys);

  EXPECT_EQ(AddHotkey(&handlerA, 113), 1000002);
  EXPECT_EQ(AddHotkey(&handlerA, kF1, ModCtrl), 1000003);
  EXPECT_EQ(keys.timers.size(), 1u);
  EXPECT_EQ(CurrentHotkeyTable()->size(), 3u);
  EXPECT_EQ(record(2).modifiers, ModCtrl);
  EXPECT_EQ(record(2).triggerState, Idle);
}

TEST_F(HotkeyService, IntervalTakesEffectOnlyOnTheFirstRecordAndDefaultsToTenMs) {
  struct Case {
    int first;
    int expected;
  };
  for (Case c : {Case{25, 25}, Case{0, 10}, Case{-5, 10}, Case{INT_MIN, 10}}) {
    FreeHotkeyTable();
    CreateHotkeyTable();
    keys.timers.clear();
    AddHotkey(&handlerA, kF1, 0, 0, c.first);
    AddHotkey(&handlerA, 113, 0, 0, 500);
    AddHotkey(&handlerB, kF1, 0, 0, 700);  // an update, not a new record
    ASSERT_EQ(keys.timers.size(), 1u) << c.first;
    EXPECT_EQ(keys.timers[0].periodMs, c.expected) << c.first;
  }
}

TEST_F(HotkeyService, KeyCodesWithoutAKeySlotAreRefusedAndLeaveTheServiceDormant) {
  for (std::int32_t code : {0, 256, -256, 512, 65536, INT_MIN}) {
    EXPECT_EQ(AddHotkey(&handlerA, code), 0) << code;
  }
  // A second key that can never be found held makes a hotkey that can never
  // fire; it is refused too.
  EXPECT_EQ(AddHotkey(&handlerA, kF1, 0, 256), 0);
  EXPECT_EQ(AddHotkey(nullptr, kF1), 0);
  EXPECT_TRUE(CurrentHotkeyTable()->empty());
  EXPECT_TRUE(keys.timers.empty());

  // The next valid registration is still the first record.
  EXPECT_EQ(AddHotkey(&handlerA, kF1), 1000001);
  EXPECT_EQ(keys.timers.size(), 1u);
}

TEST_F(HotkeyService, RegisteringTheSameCombinationReplacesHandlerAndCallModeOnly) {
  const std::int32_t id = AddHotkey(&handlerA, kF1);
  keys.down(kF1);
  PollHotkeys();
  ASSERT_EQ(threadIds(), std::vector<std::int32_t>{id});
  ASSERT_EQ(record(0).triggerState, Fired);

  EXPECT_EQ(AddHotkey(&handlerB, kF1, 0, 0, 0, true), id);
  ASSERT_EQ(CurrentHotkeyTable()->size(), 1u);
  // The press in progress is not fired a second time by the new handler.
  EXPECT_EQ(record(0).triggerState, Fired);
  PollHotkeys();
  EXPECT_TRUE(directCalls.empty());

  keys.up(kF1);
  PollHotkeys();
  keys.down(kF1);
  PollHotkeys();
  EXPECT_EQ(directCalls, (std::vector<Call>{{'B', id}}));
  EXPECT_EQ(keys.threads.size(), 1u);
}

TEST_F(HotkeyService, CodesSharingAKeySlotAreSeparateRegistrations) {
  const std::int32_t plain = AddHotkey(&handlerA, kF1, 0, 0, 0, true);
  const std::int32_t wrapped = AddHotkey(&handlerB, kF1 + 256, 0, 0, 0, true);
  const std::int32_t onRelease = AddHotkey(&handlerA, -kF1, 0, 0, 0, true);
  EXPECT_EQ(wrapped, plain + 1);
  EXPECT_EQ(onRelease, plain + 2);

  keys.down(kF1);
  PollHotkeys();
  EXPECT_EQ(directCalls, (std::vector<Call>{{'A', plain}, {'B', wrapped}}));
  keys.up(kF1);
  PollHotkeys();
  EXPECT_EQ(directCalls.back(), (Call{'A', onRelease}));
  EXPECT_EQ(directCalls.size(), 3u);
}

TEST_F(HotkeyService, AKeyFiresOncePerPressWithoutAutoRepeat) {
  const std::int32_t id = AddHotkey(&handlerA, kF1);
  EXPECT_EQ(pollSequence(kF1, {false, true, true, true, true}), 1u);
  EXPECT_EQ(pollSequence(kF1, {false, true, true}), 1u);
  EXPECT_EQ(pollSequence(kF1, {false, false}), 0u);
  EXPECT_EQ(threadIds(), (std::vector<std::int32_t>{id, id}));
}

TEST_F(HotkeyService, AKeyAlreadyDownAtTheFirstPollFires) {
  keys.down(kF1);
  AddHotkey(&handlerA, kF1);
  PollHotkeys();
  EXPECT_EQ(keys.threads.size(), 1u);
}

TEST_F(HotkeyService, ATapBetweenTwoPollsFiresNothing) {
  AddHotkey(&handlerA, kF1);
  AddHotkey(&handlerA, -kF1);
  for (int i = 0; i < 3; ++i) {
    keys.tapped(kF1);
    PollHotkeys();
    PollHotkeys();
  }
  EXPECT_TRUE(keys.threads.empty());
  EXPECT_EQ(record(0).triggerState, Idle);
  EXPECT_EQ(record(1).triggerState, Idle);

  // A fresh press and release still works after the taps.
  EXPECT_EQ(pollSequence(kF1, {true, false}), 2u);
}

TEST_F(HotkeyService, AnyHeldModifierExceptTheRightWindowsKeyBlocksAPlainHotkey) {
  AddHotkey(&handlerA, kF1);
  for (int modifier : {kCtrl, kAlt, kShift, kLeftWin}) {
    keys.down(modifier);
    EXPECT_EQ(pollSequence(kF1, {false, true, true, false}), 0u) << modifier;
    keys.up(modifier);
  }
  keys.down(kRightWin);
  EXPECT_EQ(pollSequence(kF1, {false, true, false}), 1u);
  keys.up(kRightWin);
  // A modifier that is only tapped between polls is not held.
  keys.tapped(kCtrl);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 1u);
}

TEST_F(HotkeyService, ModifiersMustBeHeldExactlyWhenTheKeyIsFirstSeenDown) {
  AddHotkey(&handlerA, kF1, ModCtrl);

  // Ctrl first, then F1.
  keys.down(kCtrl);
  EXPECT_EQ(pollSequence(kF1, {false, true, true}), 1u);
  keys.up(kCtrl);
  EXPECT_EQ(pollSequence(kF1, {false}), 0u);

  // F1 first, Ctrl afterwards: the press was used up.
  EXPECT_EQ(pollSequence(kF1, {true}), 0u);
  keys.down(kCtrl);
  EXPECT_EQ(pollSequence(kF1, {true, true}), 0u);
  // Released and pressed again with Ctrl held.
  EXPECT_EQ(pollSequence(kF1, {false, true}), 1u);

  // Extra modifiers block as missing ones do.
  keys.down(kShift);
  EXPECT_EQ(pollSequence(kF1, {false, true}), 0u);
  keys.up(kShift);
  keys.up(kCtrl);

  // The sum is tested, so Ctrl+Alt is a different combination.
  FreeHotkeyTable();
  CreateHotkeyTable();
  AddHotkey(&handlerA, kF1, ModCtrl + ModAlt + ModShift + ModWin);
  for (int vk : {kCtrl, kAlt, kShift}) keys.down(vk);
  EXPECT_EQ(pollSequence(kF1, {false, true}), 0u);
  keys.down(kLeftWin);
  EXPECT_EQ(pollSequence(kF1, {false, true}), 1u);
}

TEST_F(HotkeyService, ASecondKeyMustBeDownWhenTheHotkeyFires) {
  // The second key is taken by its key slot, whatever its sign or high bits.
  AddHotkey(&handlerA, kF1, 0, kKeyA);
  AddHotkey(&handlerA, 113, 0, -(kKeyA + 256));
  EXPECT_EQ(pollSequence(kF1, {true, false}), 0u);
  keys.tapped(kKeyA);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 0u);
  keys.down(kKeyA);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 1u);
  EXPECT_EQ(pollSequence(113, {true, false}), 1u);
  // The second key does not count as a modifier: a plain hotkey with A held
  // still fires.
  FreeHotkeyTable();
  CreateHotkeyTable();
  AddHotkey(&handlerA, kF1);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 1u);
}

TEST_F(HotkeyService, ANegativeCodeFiresOnReleaseWithModifiersTestedThen) {
  const std::int32_t id = AddHotkey(&handlerA, -kF1);
  EXPECT_EQ(pollSequence(kF1, {true, true, true}), 0u);
  EXPECT_EQ(pollSequence(kF1, {false}), 1u);
  EXPECT_EQ(threadIds(), std::vector<std::int32_t>{id});

  // Released as a tap (up, pressed since): counts as a release too.
  EXPECT_EQ(pollSequence(kF1, {false, true}), 0u);
  keys.tapped(kF1);
  PollHotkeys();
  EXPECT_EQ(keys.threads.size(), 2u);

  FreeHotkeyTable();
  CreateHotkeyTable();
  AddHotkey(&handlerA, -kF1, ModCtrl);
  // Ctrl pressed while F1 is held, still held at the release: fires.
  EXPECT_EQ(pollSequence(kF1, {false, true}), 0u);
  keys.down(kCtrl);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 1u);
  // Ctrl held at the press but let go before the release: nothing.
  EXPECT_EQ(pollSequence(kF1, {false, true}), 0u);
  keys.up(kCtrl);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 0u);
}

TEST_F(HotkeyService, APressSeenRightAfterAReleaseFiringIsLost) {
  AddHotkey(&handlerA, -kF1);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 1u);
  // Pressed again before any poll saw the key fully up.
  EXPECT_EQ(pollSequence(kF1, {true, true, false}), 0u);
  EXPECT_EQ(record(0).triggerState, Idle);
  EXPECT_EQ(pollSequence(kF1, {true, false}), 1u);
}

TEST_F(HotkeyService, EveryFiringStartsAThreadOfItsOwnAndALostThreadLosesThePress) {
  const std::int32_t id = AddHotkey(&handlerA, kF1);
  pollSequence(kF1, {true, false, true, false, true});
  EXPECT_EQ(threadIds(), (std::vector<std::int32_t>{id, id, id}));
  for (const auto& start : keys.threads) EXPECT_EQ(start.handler, &handlerA);
  EXPECT_TRUE(directCalls.empty());

  keys.threadsStart = false;
  EXPECT_EQ(pollSequence(kF1, {false, true, true}), 0u);
  EXPECT_EQ(record(0).triggerState, Fired);
  keys.threadsStart = true;
  EXPECT_EQ(pollSequence(kF1, {true}), 0u);
  EXPECT_EQ(pollSequence(kF1, {false, true}), 1u);
}

TEST_F(HotkeyService, ADirectCallRunsInsideThePollAndANestedPollCannotRefireIt) {
  const std::int32_t id = AddHotkey(&nestedPollHandler, kF1, 0, 0, 0, true);
  keys.down(kF1);
  PollHotkeys();
  EXPECT_EQ(directCalls, (std::vector<Call>{{'N', id}}));
  EXPECT_TRUE(keys.threads.empty());
  PollHotkeys();
  EXPECT_EQ(directCalls.size(), 1u);
}

TEST_F(HotkeyService, ADirectHandlerMayRegisterOrEndTheProgramDuringThePoll) {
  const std::int32_t first = AddHotkey(&registeringHandler, kF1, 0, 0, 0, true);
  const std::int32_t second = AddHotkey(&handlerA, kF1, ModShift, 0, 0, true);
  const std::int32_t third = AddHotkey(&handlerA, kF1, 0, kKeyA, 0, false);
  (void)second;
  keys.down(kF1);
  keys.down(kKeyA);
  PollHotkeys();
  // The records after the moved one are still judged; the new ones (A among
  // them, held down) wait for the next poll.
  EXPECT_EQ(directCalls, (std::vector<Call>{{'R', first}}));
  EXPECT_EQ(threadIds(), std::vector<std::int32_t>{third});
  EXPECT_EQ(CurrentHotkeyTable()->size(), 43u);
  PollHotkeys();
  EXPECT_EQ(directCalls.back(), (Call{'B', 1000004}));

  FreeHotkeyTable();
  CreateHotkeyTable();
  AddHotkey(&freeingHandler, 113, 0, 0, 0, true);
  AddHotkey(&handlerA, 113, ModAlt, 0, 0, true);
  keys.down(113);
  PollHotkeys();
  EXPECT_EQ(CurrentHotkeyTable(), nullptr);
  EXPECT_EQ(directCalls.back().handler, 'F');
}

TEST_F(HotkeyService, PollsAfterTheEndOfTheProgramOrWithoutRecordsDoNothing) {
  PollHotkeys();
  EXPECT_EQ(keys.samples, 0);

  AddHotkey(&handlerA, kF1);
  AddHotkey(&handlerA, 113);
  keys.down(kF1);
  PollHotkeys();
  // One snapshot per poll, however many records there are.
  EXPECT_EQ(keys.samples, 1);

  FreeHotkeyTable();
  keys.up(kF1);
  PollHotkeys();
  keys.down(kF1);
  PollHotkeys();
  EXPECT_EQ(keys.samples, 1);
  EXPECT_EQ(keys.threads.size(), 1u);
  EXPECT_EQ(AddHotkey(&handlerA, kF1), 0);
}

}  // namespace
}  // namespace zandrel
