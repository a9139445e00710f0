#pragma once
// Message boxes in the manner of the classic Windows message box: the style's
// low bits choose the buttons, the result numbers the pressed button.

#include <gtk/gtk.h>

#include <string>

namespace zandrel {

// GTK reserves response ids up to 0; the buttons answer kResponseBase + result.
inline constexpr int kResponseBase = 100;

// A new, not yet shown GtkMessageDialog for the style.
GtkWidget* createMessageBox(const std::string& text, int style, const std::string& caption);

// What closing the box without a button (close box, Escape) answers: Cancel
// where the box has one, OK for an OK box, -1 where the box cannot be closed
// that way (Abort/Retry/Ignore, Yes/No: the user has to choose).
int closeResult(int style);

// The result number for a dialog response: the button's, or closeResult.
int boxResult(int response, int style);

}  // namespace zandrel
