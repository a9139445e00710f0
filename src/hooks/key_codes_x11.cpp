#include "hooks/key_codes_x11.h"

#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <algorithm>

namespace zandrel {

namespace {

struct KeysymKey {
  unsigned long keysym;
  std::uint8_t key;
};

// Keysyms that stand for one virtual-key code each. Letters, digits, F-keys
// and the keypad digits are ranges and handled in code. A key that means two
// virtual keys (Shift_L: 16 and 160) appears twice.
constexpr KeysymKey kKeysymKeys[] = {
    {XK_Break, 0x03},
    {XK_BackSpace, 0x08},
    {XK_Tab, 0x09},
    {XK_ISO_Left_Tab, 0x09},
    {XK_Clear, 0x0C},
    {XK_KP_Begin, 0x0C},
    {XK_Return, 0x0D},
    {XK_KP_Enter, 0x0D},
    // Shift, Ctrl and Alt: either side as the generic key, each side as its own.
    {XK_Shift_L, 0x10},
    {XK_Shift_R, 0x10},
    {XK_Shift_L, 0xA0},
    {XK_Shift_R, 0xA1},
    {XK_Control_L, 0x11},
    {XK_Control_R, 0x11},
    {XK_Control_L, 0xA2},
    {XK_Control_R, 0xA3},
    // Meta is what some keymaps put on the Alt keys; AltGr (ISO_Level3_Shift)
    // is the physical right Alt key of the layouts that use it.
    {XK_Alt_L, 0x12},
    {XK_Alt_R, 0x12},
    {XK_Meta_L, 0x12},
    {XK_Meta_R, 0x12},
    {XK_ISO_Level3_Shift, 0x12},
    {XK_Alt_L, 0xA4},
    {XK_Meta_L, 0xA4},
    {XK_Alt_R, 0xA5},
    {XK_Meta_R, 0xA5},
    {XK_ISO_Level3_Shift, 0xA5},
    {XK_Pause, 0x13},
    {XK_Caps_Lock, 0x14},
    {XK_Hangul, 0x15},
    {XK_Hiragana_Katakana, 0x15},
    {XK_Hangul_Hanja, 0x19},
    {XK_Kanji, 0x19},
    {XK_Escape, 0x1B},
    {XK_Henkan_Mode, 0x1C},
    {XK_Muhenkan, 0x1D},
    {XK_Mode_switch, 0x1F},
    {XK_space, 0x20},
    {XK_KP_Space, 0x20},
    {XK_Prior, 0x21},
    {XK_KP_Prior, 0x21},
    {XK_Next, 0x22},
    {XK_KP_Next, 0x22},
    {XK_End, 0x23},
    {XK_KP_End, 0x23},
    {XK_Home, 0x24},
    {XK_KP_Home, 0x24},
    {XK_Left, 0x25},
    {XK_KP_Left, 0x25},
    {XK_Up, 0x26},
    {XK_KP_Up, 0x26},
    {XK_Right, 0x27},
    {XK_KP_Right, 0x27},
    {XK_Down, 0x28},
    {XK_KP_Down, 0x28},
    {XK_Select, 0x29},
    {XK_Execute, 0x2B},
    {XK_Print, 0x2C},
    {XK_Sys_Req, 0x2C},
    {XK_Insert, 0x2D},
    {XK_KP_Insert, 0x2D},
    {XK_Delete, 0x2E},
    {XK_KP_Delete, 0x2E},
    {XK_Help, 0x2F},
    // The Windows keys: the left one alone is the Win modifier.
    {XK_Super_L, 0x5B},
    {XK_Super_R, 0x5C},
    {XK_Menu, 0x5D},
    {XF86XK_Sleep, 0x5F},
    {XK_KP_Multiply, 0x6A},
    {XK_KP_Add, 0x6B},
    {XK_KP_Separator, 0x6C},
    {XK_KP_Subtract, 0x6D},
    {XK_KP_Decimal, 0x6E},
    {XK_KP_Divide, 0x6F},
    {XK_Num_Lock, 0x90},
    {XK_Scroll_Lock, 0x91},
    {XF86XK_Back, 0xA6},
    {XF86XK_Forward, 0xA7},
    {XF86XK_Refresh, 0xA8},
    {XF86XK_Stop, 0xA9},
    {XF86XK_Search, 0xAA},
    {XF86XK_Favorites, 0xAB},
    {XF86XK_HomePage, 0xAC},
    {XF86XK_AudioMute, 0xAD},
    {XF86XK_AudioLowerVolume, 0xAE},
    {XF86XK_AudioRaiseVolume, 0xAF},
    {XF86XK_AudioNext, 0xB0},
    {XF86XK_AudioPrev, 0xB1},
    {XF86XK_AudioStop, 0xB2},
    {XF86XK_AudioPlay, 0xB3},
    {XF86XK_AudioPause, 0xB3},
    {XF86XK_Mail, 0xB4},
    {XF86XK_AudioMedia, 0xB5},
    {XF86XK_MyComputer, 0xB6},
    {XF86XK_Calculator, 0xB7},
    // Punctuation keys by what their unshifted level shows, as the keyboard
    // layouts of the other system assign them.
    {XK_semicolon, 0xBA},
    {XK_equal, 0xBB},
    {XK_plus, 0xBB},
    {XK_comma, 0xBC},
    {XK_minus, 0xBD},
    {XK_period, 0xBE},
    {XK_slash, 0xBF},
    {XK_grave, 0xC0},
    {XK_dead_grave, 0xC0},
    {XK_bracketleft, 0xDB},
    {XK_backslash, 0xDC},
    {XK_bracketright, 0xDD},
    {XK_apostrophe, 0xDE},
    {XK_less, 0xE2},
};

// On the shifted level only digits count: keypad digits (Num Lock on) and
// the digit row of layouts that put the digits there.
bool countsOnShiftedLevel(unsigned long keysym) {
  return (keysym >= XK_KP_0 && keysym <= XK_KP_9) || keysym == XK_KP_Decimal ||
         (keysym >= XK_0 && keysym <= XK_9);
}

void addUnique(std::vector<std::uint8_t>& list, std::uint8_t value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

}  // namespace

std::vector<std::uint8_t> virtualKeysOfKeysym(unsigned long keysym, int level) {
  std::vector<std::uint8_t> keys;
  if (level < 0 || level > 1 || keysym == NoSymbol) return keys;
  if (level == 1 && !countsOnShiftedLevel(keysym)) return keys;

  if (keysym >= XK_a && keysym <= XK_z) {
    keys.push_back(static_cast<std::uint8_t>('A' + (keysym - XK_a)));
  } else if (keysym >= XK_A && keysym <= XK_Z) {
    keys.push_back(static_cast<std::uint8_t>(keysym));
  } else if (keysym >= XK_0 && keysym <= XK_9) {
    keys.push_back(static_cast<std::uint8_t>(keysym));
  } else if (keysym >= XK_KP_0 && keysym <= XK_KP_9) {
    keys.push_back(static_cast<std::uint8_t>(0x60 + (keysym - XK_KP_0)));
  } else if (keysym >= XK_F1 && keysym <= XK_F24) {
    keys.push_back(static_cast<std::uint8_t>(0x70 + (keysym - XK_F1)));
  }
  for (const KeysymKey& entry : kKeysymKeys) {
    if (entry.keysym == keysym) addUnique(keys, entry.key);
  }
  return keys;
}

X11KeyMap buildX11KeyMap(int firstKeycode, int keysymsPerKeycode,
                         const std::vector<unsigned long>& keysyms) {
  X11KeyMap map;
  if (keysymsPerKeycode <= 0 || firstKeycode < 0) return map;
  const std::size_t perKeycode = static_cast<std::size_t>(keysymsPerKeycode);
  const std::size_t keycodes = keysyms.size() / perKeycode;
  for (std::size_t i = 0; i < keycodes; ++i) {
    const std::size_t keycode = static_cast<std::size_t>(firstKeycode) + i;
    if (keycode > 255) break;
    // Group 1 only: its unshifted and shifted levels come first.
    for (int level = 0; level < std::min(keysymsPerKeycode, 2); ++level) {
      for (std::uint8_t key : virtualKeysOfKeysym(keysyms[i * perKeycode + level], level)) {
        addUnique(map.keysOfKeycode[keycode], key);
        addUnique(map.keycodesOfKey[key], static_cast<std::uint8_t>(keycode));
      }
    }
  }
  return map;
}

std::uint8_t virtualKeyOfButton(int button) {
  switch (button) {
    case 1:
      return 0x01;  // left
    case 3:
      return 0x02;  // right
    case 2:
      return 0x04;  // middle
    case 8:
      return 0x05;  // back, the first extra button
    case 9:
      return 0x06;  // forward, the second extra button
    default:
      return 0;  // the wheel's buttons 4-7 and anything beyond
  }
}

}  // namespace zandrel
