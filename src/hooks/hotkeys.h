#pragma once
// The hotkey service: a periodic poll of the system-wide key state that turns
// key edges into handler calls. No keyboard hook, so keys are not consumed.

#include <array>
#include <cstdint>
#include <vector>

namespace zandrel {

using HotkeyHandler = void (*)(std::int32_t id);

// Index 1..255 by virtual-key code (index 0 is unused); negative: down now;
// 0: up and not pressed since the previous sample; positive: up now but
// pressed since then.
using KeySnapshot = std::array<std::int16_t, 256>;

class HotkeyPlatform {
 public:
  virtual ~HotkeyPlatform() = default;
  // Writes the state of keys 1..255 into a zeroed snapshot and clears the
  // pressed-since bits for the next sample.
  virtual void sampleKeys(KeySnapshot& snapshot) = 0;
  // A periodic call of `poll` on the calling (UI) thread.
  virtual bool startTimer(int periodMs, void (*poll)()) = 0;
  // A new detached thread running handler(id); false when none could start.
  virtual bool startThread(HotkeyHandler handler, std::int32_t id) = 0;
};

inline constexpr std::int32_t HotkeyIdBase = 1000000;
enum ModifierKeys : std::int32_t { ModAlt = 1, ModCtrl = 2, ModShift = 4, ModWin = 8 };
enum TriggerState : std::uint8_t { Idle = 0, Held = 1, Released = 2, Fired = 88 };

// One registration. keyCode and secondKey use the low 8 bits of their absolute
// value as the virtual-key code; a negative keyCode fires on the release.
// directCall non-zero: the handler runs inside the poll, otherwise on a new
// thread of its own.
struct HotkeyRecord {
  std::int32_t id = 0;
  HotkeyHandler handler = nullptr;
  std::int32_t keyCode = 0;
  std::int32_t modifiers = 0;
  std::int32_t secondKey = 0;
  std::uint8_t triggerState = Idle;
  std::int32_t directCall = 0;
};

using HotkeyTable = std::vector<HotkeyRecord>;

// The process-wide table. Created empty by the application's start-up, freed
// at its end; a poll after that finds no table and does nothing.
void CreateHotkeyTable();
void FreeHotkeyTable();
const HotkeyTable* CurrentHotkeyTable();

// Registers a key combination (see HotkeyRecord) and returns its id, or 0 when
// refused: no table, no handler, a key code or a non-zero second key whose key
// slot is 0. Registering the same keyCode, modifiers and secondKey again
// replaces handler and directCall and returns the same id. The first record
// starts the poll timer with `interval` ms (10 when 0 or less). UI thread only.
std::int32_t AddHotkey(HotkeyHandler handler, std::int32_t keyCode, std::int32_t modifiers = 0,
                       std::int32_t secondKey = 0, std::int32_t interval = 0,
                       bool directCall = false);
// The timer's callback: one key snapshot, then every record's edge detection.
void PollHotkeys();

}  // namespace zandrel
