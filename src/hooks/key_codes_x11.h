#pragma once
// Which X keycodes stand for which virtual-key codes under the current
// keyboard mapping. Pure data work, so it is built and checked without a
// display.

#include <array>
#include <cstdint>
#include <vector>

namespace zandrel {

// The virtual-key codes (1..255) a keysym stands for when it is on the given
// shift level (0 unshifted, 1 shifted) of a key. Empty when none.
std::vector<std::uint8_t> virtualKeysOfKeysym(unsigned long keysym, int level);

struct X11KeyMap {
  // By virtual-key code: the keycodes whose keys stand for it.
  std::array<std::vector<std::uint8_t>, 256> keycodesOfKey;
  // By keycode: the virtual-key codes its key stands for.
  std::array<std::vector<std::uint8_t>, 256> keysOfKeycode;
};

// From a keyboard mapping as XGetKeyboardMapping returns it: keysymsPerKeycode
// keysyms for each keycode from firstKeycode on.
X11KeyMap buildX11KeyMap(int firstKeycode, int keysymsPerKeycode,
                         const std::vector<unsigned long>& keysyms);

// The virtual-key code of a pointer button as XInput2 numbers it (1 left,
// 2 middle, 3 right, 8 back, 9 forward); 0 for the wheel and other buttons.
std::uint8_t virtualKeyOfButton(int button);

}  // namespace zandrel
