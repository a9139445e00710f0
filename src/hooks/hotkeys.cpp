#include "hooks/hotkeys.h"

#include <memory>

#include "runtime/services.h"

namespace zandrel {

namespace {

// Only the UI thread creates, frees, extends and polls the table, so it needs
// no lock. Null before start-up and after the end of the program: the timer
// outlives the table and must then find nothing to do.
std::unique_ptr<HotkeyTable> hotkeyTable;

constexpr int kDefaultPollPeriodMs = 10;

// The key slot of a key code: the low 8 bits of its absolute value. The
// magnitude is taken unsigned so that INT32_MIN (slot 0) is no special case.
int keySlot(std::int32_t keyCode) {
  const std::uint32_t magnitude =
      keyCode < 0 ? 0u - static_cast<std::uint32_t>(keyCode) : static_cast<std::uint32_t>(keyCode);
  return static_cast<int>(magnitude & 0xFFu);
}

bool isDown(const KeySnapshot& snapshot, int slot) {
  return snapshot[slot] < 0;
}

std::int32_t heldModifiers(const KeySnapshot& snapshot) {
  constexpr int kShiftKey = 16;
  constexpr int kControlKey = 17;
  constexpr int kAltKey = 18;
  constexpr int kLeftWindowsKey = 91;  // the right one (92) deliberately does not count
  std::int32_t sum = 0;
  if (isDown(snapshot, kAltKey)) sum += ModAlt;
  if (isDown(snapshot, kControlKey)) sum += ModCtrl;
  if (isDown(snapshot, kShiftKey)) sum += ModShift;
  if (isDown(snapshot, kLeftWindowsKey)) sum += ModWin;
  return sum;
}

// Advances the edge detection of one record for this poll's key value and
// says whether the record is now due to be tested for firing.
bool advanceTrigger(HotkeyRecord& record, std::int16_t value) {
  if (value == 0) {
    if (record.triggerState != Held) {
      record.triggerState = Idle;
      return false;
    }
    record.triggerState = Released;
  } else if (value < 0) {
    if (record.triggerState == Idle) record.triggerState = Held;
    // A release-edge hotkey waits for the key to come up.
    if (record.keyCode < 0) return false;
  }
  // A positive value (pressed and released between two samples) never starts
  // a trigger on its own: the state stays as it was.
  return record.triggerState != Idle && record.triggerState != Fired;
}

}  // namespace

void CreateHotkeyTable() {
  hotkeyTable = std::make_unique<HotkeyTable>();
}

void FreeHotkeyTable() {
  hotkeyTable.reset();
}

const HotkeyTable* CurrentHotkeyTable() {
  return hotkeyTable.get();
}

std::int32_t AddHotkey(HotkeyHandler handler, std::int32_t keyCode, std::int32_t modifiers,
                       std::int32_t secondKey, std::int32_t interval, bool directCall) {
  if (hotkeyTable == nullptr || handler == nullptr || keySlot(keyCode) == 0) return 0;
  // A second key without a key slot could never be found held, so the
  // registration could never fire: refuse it rather than accept a dead one.
  if (secondKey != 0 && keySlot(secondKey) == 0) return 0;

  const std::int32_t callDirectly = directCall ? 1 : 0;
  for (HotkeyRecord& record : *hotkeyTable) {
    if (record.keyCode == keyCode && record.modifiers == modifiers &&
        record.secondKey == secondKey) {
      record.handler = handler;
      record.directCall = callDirectly;
      return record.id;
    }
  }

  HotkeyRecord record;
  record.id = HotkeyIdBase + static_cast<std::int32_t>(hotkeyTable->size()) + 1;
  record.handler = handler;
  record.keyCode = keyCode;
  record.modifiers = modifiers;
  record.secondKey = secondKey;
  record.triggerState = Idle;
  record.directCall = callDirectly;
  hotkeyTable->push_back(record);

  if (record.id == HotkeyIdBase + 1) {
    if (HotkeyPlatform* platform = services().hotkeys) {
      platform->startTimer(interval > 0 ? interval : kDefaultPollPeriodMs, &PollHotkeys);
    }
  }
  return record.id;
}

void PollHotkeys() {
  HotkeyPlatform* platform = services().hotkeys;
  if (hotkeyTable == nullptr || hotkeyTable->empty() || platform == nullptr) return;

  KeySnapshot snapshot{};
  platform->sampleKeys(snapshot);
  snapshot[0] = 0;  // no key has slot 0; keep whatever the platform wrote there out of it

  // Records are addressed by position, not by reference: a handler called
  // directly may register hotkeys (the table grows and moves) or run a nested
  // poll. Records added during this poll wait for the next one.
  const std::size_t recordsAtStart = hotkeyTable->size();
  for (std::size_t index = 0; index < recordsAtStart; ++index) {
    if (hotkeyTable == nullptr || index >= hotkeyTable->size()) return;
    HotkeyRecord& record = (*hotkeyTable)[index];
    if (!advanceTrigger(record, snapshot[keySlot(record.keyCode)])) continue;

    // Used up before the modifier and second-key tests, so a press with the
    // wrong modifiers does not fire later when they change, and a nested poll
    // during a direct call cannot fire this press again.
    record.triggerState = Fired;
    if (heldModifiers(snapshot) != record.modifiers) continue;
    if (record.secondKey != 0 && !isDown(snapshot, keySlot(record.secondKey))) continue;

    const HotkeyHandler handler = record.handler;
    const std::int32_t id = record.id;
    if (record.directCall != 0) {
      handler(id);
    } else {
      platform->startThread(handler, id);
    }
  }
}

}  // namespace zandrel
