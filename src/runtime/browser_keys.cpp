#include "runtime/browser_keys.h"

namespace zandrel {
namespace {

constexpr int kBackspace = 0x08;
constexpr int kLeft = 0x25;
constexpr int kRight = 0x27;
constexpr int kF3 = 0x72;
constexpr int kF5 = 0x74;
constexpr int kF11 = 0x7A;
constexpr int kNumpad0 = 0x60;
constexpr int kAdd = 0x6B;
constexpr int kSubtract = 0x6D;
constexpr int kEqualsPlus = 0xBB;  // VK_OEM_PLUS
constexpr int kMinus = 0xBD;       // VK_OEM_MINUS
// Keys of their own on some keyboards: VK_BROWSER_BACK to VK_BROWSER_HOME.
constexpr int kBrowserFirst = 0xA6;
constexpr int kBrowserLast = 0xAC;

bool held(int modifiers, int bit) {
  return (modifiers & bit) != 0;
}

}  // namespace

bool IsBrowserCommandKey(int virtualKey, int modifiers) {
  const bool ctrl = held(modifiers, kBrowserKeyCtrl);
  const bool alt = held(modifiers, kBrowserKeyAlt);
  // Reload (F5 with any modifier), find next, full screen, the keyboard's
  // own browser keys, and Backspace (back in several engines; the exam has
  // no text to edit).
  if (virtualKey == kF5 || virtualKey == kF3 || virtualKey == kF11 || virtualKey == kBackspace) {
    return true;
  }
  if (virtualKey >= kBrowserFirst && virtualKey <= kBrowserLast) return true;
  // Back and forward; the plain arrows are the page's.
  if (alt && (virtualKey == kLeft || virtualKey == kRight)) return true;
  // Ctrl+Alt is AltGr on many layouts, which types characters.
  if (!ctrl || alt) return false;
  switch (virtualKey) {
    case 'R':  // reload
    case 'F':  // find
    case 'P':  // print
    case 'N':  // new window
    case 'O':  // open a file
    case 'L':  // address bar
    case 'S':  // save the page
    case kEqualsPlus:
    case kAdd:
    case kMinus:
    case kSubtract:
    case '0':
    case kNumpad0:
      return true;
    default:
      return false;
  }
}

bool IsBrowserZoomWheel(int modifiers) {
  return held(modifiers, kBrowserKeyCtrl);
}

}  // namespace zandrel
