#include "runtime/window_layer_box_gtk.h"

#include <utility>
#include <vector>

#include "runtime/window_layer.h"

namespace zandrel {
namespace {

// The captions the target systems' message box shows.
std::vector<std::pair<const char*, int>> buttonsFor(int style) {
  switch (style & 0xF) {
    case kBoxStyleOkCancel:
      return {{"确定", kBoxOk}, {"取消", kBoxCancel}};
    case kBoxStyleAbortRetryIgnore:
      return {{"中止(A)", kBoxAbort}, {"重试(R)", kBoxRetry}, {"忽略(I)", kBoxIgnore}};
    case kBoxStyleYesNoCancel:
      return {{"是(Y)", kBoxYes}, {"否(N)", kBoxNo}, {"取消", kBoxCancel}};
    case kBoxStyleYesNo:
      return {{"是(Y)", kBoxYes}, {"否(N)", kBoxNo}};
    case kBoxStyleRetryCancel:
      return {{"重试(R)", kBoxRetry}, {"取消", kBoxCancel}};
    default:
      return {{"确定", kBoxOk}};
  }
}

GtkMessageType iconFor(int style) {
  switch (style & 0xF0) {
    case 0x10:
      return GTK_MESSAGE_ERROR;
    case 0x20:
      return GTK_MESSAGE_QUESTION;
    case 0x30:
      return GTK_MESSAGE_WARNING;
    case 0x40:
      return GTK_MESSAGE_INFO;
    default:
      return GTK_MESSAGE_OTHER;
  }
}

}  // namespace

int closeResult(int style) {
  switch (style & 0xF) {
    case kBoxStyleOkCancel:
    case kBoxStyleYesNoCancel:
    case kBoxStyleRetryCancel:
      return kBoxCancel;
    case kBoxStyleAbortRetryIgnore:
    case kBoxStyleYesNo:
      return -1;
    default:
      return kBoxOk;
  }
}

int boxResult(int response, int style) {
  if (response >= kResponseBase) return response - kResponseBase;
  return closeResult(style);
}

GtkWidget* createMessageBox(const std::string& text, int style, const std::string& caption) {
  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT, iconFor(style),
                                          GTK_BUTTONS_NONE, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
  for (const auto& [label, result] : buttonsFor(style)) {
    // Plain labels: the "(A)" style access keys are part of the caption text.
    GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(box), label, kResponseBase + result);
    gtk_button_set_use_underline(GTK_BUTTON(button), FALSE);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(box),
                                  kResponseBase + buttonsFor(style).front().second);
  gtk_window_set_deletable(GTK_WINDOW(box), closeResult(style) >= 0);
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
  if ((style & kBoxStyleSystemModal) != 0) gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  return box;
}

}  // namespace zandrel
