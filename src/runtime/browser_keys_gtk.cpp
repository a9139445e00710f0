#include "runtime/browser_keys_gtk.h"

#include "runtime/browser_keys.h"

namespace zandrel {
namespace {

int virtualKeyOfKeyval(guint keyval) {
  const guint upper = gdk_keyval_to_upper(keyval);
  if (upper >= GDK_KEY_A && upper <= GDK_KEY_Z) return 'A' + static_cast<int>(upper - GDK_KEY_A);
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return '0' + static_cast<int>(keyval - GDK_KEY_0);
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) {
    return 0x70 + static_cast<int>(keyval - GDK_KEY_F1);
  }
  switch (keyval) {
    case GDK_KEY_BackSpace:
      return 0x08;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
      return 0x25;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
      return 0x27;
    case GDK_KEY_equal:
    case GDK_KEY_plus:
      return 0xBB;
    case GDK_KEY_minus:
    case GDK_KEY_underscore:
      return 0xBD;
    case GDK_KEY_KP_Add:
      return 0x6B;
    case GDK_KEY_KP_Subtract:
      return 0x6D;
    case GDK_KEY_KP_0:
      return 0x60;
    case GDK_KEY_Back:
      return 0xA6;
    case GDK_KEY_Forward:
      return 0xA7;
    case GDK_KEY_Refresh:
    case GDK_KEY_Reload:
      return 0xA8;
    case GDK_KEY_Stop:
      return 0xA9;
    case GDK_KEY_Search:
      return 0xAA;
    case GDK_KEY_Favorites:
      return 0xAB;
    case GDK_KEY_HomePage:
      return 0xAC;
    default:
      return 0;
  }
}

int modifiersOf(guint state) {
  int modifiers = 0;
  if ((state & GDK_MOD1_MASK) != 0) modifiers |= kBrowserKeyAlt;
  if ((state & GDK_CONTROL_MASK) != 0) modifiers |= kBrowserKeyCtrl;
  if ((state & GDK_SHIFT_MASK) != 0) modifiers |= kBrowserKeyShift;
  return modifiers;
}

// On the window, ahead of GtkWindow's own handler, which hands the key to
// the focus widget (the view).
gboolean onKeyPress(GtkWidget*, GdkEventKey* key, gpointer) {
  return IsBrowserCommandKey(virtualKeyOfGdkKey(key->keyval, key->hardware_keycode),
                             modifiersOf(key->state))
             ? TRUE
             : FALSE;
}

// On the view, ahead of its own handler: wheel events go to the widget under
// the pointer first.
gboolean onScroll(GtkWidget*, GdkEventScroll* scroll, gpointer) {
  return IsBrowserZoomWheel(modifiersOf(scroll->state)) ? TRUE : FALSE;
}

}  // namespace

int virtualKeyOfGdkKey(guint keyval, guint16 hardwareKeycode) {
  if (const int key = virtualKeyOfKeyval(keyval); key != 0) return key;
  // Under a layout without Latin letters (Cyrillic, Greek) Ctrl+R is the key
  // that gives R on the first layout, as browsers take it.
  GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
  guint latin = 0;
  if (keymap != nullptr &&
      gdk_keymap_translate_keyboard_state(keymap, hardwareKeycode, static_cast<GdkModifierType>(0),
                                          0, &latin, nullptr, nullptr, nullptr)) {
    return virtualKeyOfKeyval(latin);
  }
  return 0;
}

void keepBrowserCommandsFromEngine(GtkWidget* toplevel) {
  g_signal_connect(toplevel, "key-press-event", G_CALLBACK(onKeyPress), nullptr);
}

void keepZoomWheelFromEngine(GtkWidget* view) {
  g_signal_connect(view, "scroll-event", G_CALLBACK(onScroll), nullptr);
}

}  // namespace zandrel
