#pragma once
// Keys a browser engine takes as commands of its own: reload (which loses the
// answers and restarts the exam's clock), back and forward (which leave the
// exam), find, print, new window, open, address bar and save (the engine's
// dialogs and windows), and zoom (which moves the exam out of the cut-out).
// The window keeps them from the engine on every platform; all other keys,
// among them those the exam page uses (Tab, Space, Enter, arrows, letters,
// digits) and F1, reach the page as before.

namespace zandrel {

// Modifier bits, as the hotkey service counts them.
inline constexpr int kBrowserKeyAlt = 1;
inline constexpr int kBrowserKeyCtrl = 2;
inline constexpr int kBrowserKeyShift = 4;

// Whether the key with virtual-key code `virtualKey` (Windows numbering:
// 0x74 F5, 'R' 0x52, 0x08 Backspace, 0xBB the =/+ key, ...) pressed with
// `modifiers` is an engine command that must not reach the engine.
bool IsBrowserCommandKey(int virtualKey, int modifiers);

// Whether a wheel turn with `modifiers` held zooms the engine's view.
bool IsBrowserZoomWheel(int modifiers);

}  // namespace zandrel
