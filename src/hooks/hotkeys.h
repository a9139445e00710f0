#pragma once
// The hotkey service: a periodic poll of the system-wide key state that turns
// key edges into handler calls. No keyboard hook, so keys are not consumed.

#include <array>
#include <cstdint>
#include <vector>

namespace zandrel {

using HotkeyHandler = void (*)(std::int32_t id);

// Index 1..255 by virtual-key code; negative: down now; 0: up and not pressed
// since the previous sample; positive: up now but pressed since then.
using KeySnapshot = std::array<std::int16_t, 256>;

class HotkeyPlatform {
 public:
  virtual ~HotkeyPlatform() = default;
  virtual void sampleKeys(KeySnapshot& snapshot) = 0;
  // A periodic call of `poll` on the calling (UI) thread.
  virtual bool startTimer(int periodMs, void (*poll)()) = 0;
  // A new detached thread running handler(id).
  virtual bool startThread(HotkeyHandler handler, std::int32_t id) = 0;
};

inline constexpr std::int32_t HotkeyIdBase = 1000000;
enum ModifierKeys : std::int32_t { ModAlt = 1, ModCtrl = 2, ModShift = 4, ModWin = 8 };
enum TriggerState : std::uint8_t { Idle = 0, Held = 1, Released = 2, Fired = 88 };

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

std::int32_t AddHotkey(HotkeyHandler handler, std::int32_t keyCode, std::int32_t modifiers = 0,
                       std::int32_t secondKey = 0, std::int32_t interval = 0,
                       bool directCall = false);
void PollHotkeys();

}  // namespace zandrel
