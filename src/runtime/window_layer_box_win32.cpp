#include "runtime/window_layer_impl_win32.h"

namespace zandrel::win32_layer {

int Win32WindowLayer::messageBox(std::string_view text, int style,
                                 std::optional<std::string> caption, WindowHandle owner) {
  const std::string title = caption ? *caption : std::string(kDefaultBoxCaption);
  UINT flags = static_cast<UINT>(style);
  // Without an owner the box disables the calling thread's own windows
  // only: a reading thread's box leaves the main window usable, while a box
  // of the UI thread blocks it.
  if (!owner && (flags & MB_SYSTEMMODAL) == 0) flags |= MB_TASKMODAL;
  const int result =
      MessageBoxW(reinterpret_cast<HWND>(owner), widen(text).c_str(), widen(title).c_str(), flags);
  // IDOK (1) .. IDNO (7) become 0 (OK) .. 6 (No); a failed box counts as OK.
  return result >= IDOK && result <= IDNO ? result - IDOK : kBoxOk;
}

}  // namespace zandrel::win32_layer
