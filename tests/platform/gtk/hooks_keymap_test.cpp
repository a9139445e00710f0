// Which X keys stand for which virtual keys: the keymap the X11 key source
// builds, checked against a keyboard mapping laid out as the X server reports
// it, without a display.

// gtest before the X headers, whose None macro it would trip over.
#include <gtest/gtest.h>
// clang-format off
#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>
// clang-format on

#include <vector>

#include "hooks/key_codes_x11.h"

namespace zandrel {
namespace {

using Keys = std::vector<std::uint8_t>;

TEST(X11KeyCodes, ModifierSidesAndTheWindowsKeys) {
  EXPECT_EQ(virtualKeysOfKeysym(XK_Shift_L, 0), (Keys{0x10, 0xA0}));
  EXPECT_EQ(virtualKeysOfKeysym(XK_Shift_R, 0), (Keys{0x10, 0xA1}));
  EXPECT_EQ(virtualKeysOfKeysym(XK_Control_R, 0), (Keys{0x11, 0xA3}));
  EXPECT_EQ(virtualKeysOfKeysym(XK_Alt_L, 0), (Keys{0x12, 0xA4}));
  EXPECT_EQ(virtualKeysOfKeysym(XK_ISO_Level3_Shift, 0), (Keys{0x12, 0xA5}));
  // Only the left Super key is the left Windows key, the Win modifier.
  EXPECT_EQ(virtualKeysOfKeysym(XK_Super_L, 0), Keys{0x5B});
  EXPECT_EQ(virtualKeysOfKeysym(XK_Super_R, 0), Keys{0x5C});
  EXPECT_TRUE(virtualKeysOfKeysym(XK_Hyper_L, 0).empty());
}

TEST(X11KeyCodes, RangesOfLettersDigitsFunctionAndKeypadKeys) {
  EXPECT_EQ(virtualKeysOfKeysym(XK_a, 0), Keys{'A'});
  EXPECT_EQ(virtualKeysOfKeysym(XK_Z, 0), Keys{'Z'});
  EXPECT_EQ(virtualKeysOfKeysym(XK_0, 0), Keys{'0'});
  EXPECT_EQ(virtualKeysOfKeysym(XK_F1, 0), Keys{112});
  EXPECT_EQ(virtualKeysOfKeysym(XK_F24, 0), Keys{0x87});
  EXPECT_EQ(virtualKeysOfKeysym(XK_KP_0, 1), Keys{0x60});
  EXPECT_EQ(virtualKeysOfKeysym(XK_KP_9, 1), Keys{0x69});
  EXPECT_EQ(virtualKeysOfKeysym(XF86XK_AudioPlay, 0), Keys{0xB3});
  EXPECT_EQ(virtualKeysOfKeysym(XK_less, 0), Keys{0xE2});
  // Shifted symbols say nothing about the key: the digit row's punctuation
  // and the comma key's "<" would otherwise make other keys of them.
  EXPECT_TRUE(virtualKeysOfKeysym(XK_exclam, 1).empty());
  EXPECT_TRUE(virtualKeysOfKeysym(XK_less, 1).empty());
  EXPECT_TRUE(virtualKeysOfKeysym(XK_A, 1).empty());
  EXPECT_EQ(virtualKeysOfKeysym(XK_1, 1), Keys{'1'});
  EXPECT_TRUE(virtualKeysOfKeysym(NoSymbol, 0).empty());
  EXPECT_TRUE(virtualKeysOfKeysym(XK_F1, 2).empty());
}

TEST(X11KeyCodes, AKeyboardMappingGivesBothDirections) {
  // Four keysyms per keycode from keycode 8, like a core mapping.
  std::vector<unsigned long> syms(4 * 250, NoSymbol);
  auto put = [&](int keycode, unsigned long level0, unsigned long level1) {
    syms[(keycode - 8) * 4] = level0;
    syms[(keycode - 8) * 4 + 1] = level1;
    syms[(keycode - 8) * 4 + 2] = XK_F13;  // group 2 is not looked at
  };
  put(59, XK_comma, XK_less);
  put(67, XK_F1, NoSymbol);
  put(87, XK_KP_End, XK_KP_1);
  put(94, XK_less, XK_greater);
  put(133, XK_Super_L, NoSymbol);
  put(206, NoSymbol, XK_Super_L);  // the shifted level does not count
  put(10, XK_ampersand, XK_1);     // a layout with the digits shifted
  put(190, XK_F1, NoSymbol);       // a second F1 key
  const X11KeyMap map = buildX11KeyMap(8, 4, syms);

  EXPECT_EQ(map.keysOfKeycode[59], Keys{0xBC});
  EXPECT_EQ(map.keysOfKeycode[87], (Keys{0x23, 0x61}));
  EXPECT_EQ(map.keysOfKeycode[10], Keys{'1'});
  EXPECT_TRUE(map.keysOfKeycode[206].empty());
  EXPECT_EQ(map.keycodesOfKey[112], (Keys{67, 190}));
  EXPECT_EQ(map.keycodesOfKey[0x5B], Keys{133});
  EXPECT_EQ(map.keycodesOfKey[0xE2], Keys{94});
  EXPECT_TRUE(map.keycodesOfKey[0x7C].empty());  // F13 only in group 2

  // Keycodes past 255 and a malformed mapping are ignored.
  std::vector<unsigned long> high(4 * 20, XK_F2);
  const X11KeyMap clipped = buildX11KeyMap(250, 4, high);
  EXPECT_EQ(clipped.keycodesOfKey[113], (Keys{250, 251, 252, 253, 254, 255}));
  EXPECT_TRUE(buildX11KeyMap(8, 0, syms).keycodesOfKey[112].empty());
}

TEST(X11KeyCodes, PointerButtons) {
  EXPECT_EQ(virtualKeyOfButton(1), 1);
  EXPECT_EQ(virtualKeyOfButton(3), 2);
  EXPECT_EQ(virtualKeyOfButton(2), 4);
  EXPECT_EQ(virtualKeyOfButton(8), 5);
  EXPECT_EQ(virtualKeyOfButton(9), 6);
  for (int wheel : {4, 5, 6, 7, 10, 0}) EXPECT_EQ(virtualKeyOfButton(wheel), 0) << wheel;
}

}  // namespace
}  // namespace zandrel
