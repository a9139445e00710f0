// Message boxes in the manner of the classic Windows message box: the style's
// low bits choose the buttons, the result numbers the pressed button. The UI
// thread's own boxes are modal; another thread's box leaves the window usable.

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "runtime/window_layer_impl_gtk.h"

namespace zandrel::gtk_layer {
namespace {

// GTK reserves response ids up to 0; the buttons answer kResponseBase + result.
constexpr int kResponseBase = 100;

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

// What closing the box without a button (close box, Escape) answers: Cancel
// where the box has one, OK for an OK box, -1 where the box cannot be closed
// that way (Abort/Retry/Ignore, Yes/No: the user has to choose).
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

// The result number for a dialog response: the button's, or closeResult.
int boxResult(int response, int style) {
  if (response >= kResponseBase) return response - kResponseBase;
  return closeResult(style);
}

// A new, not yet shown GtkMessageDialog for the style.
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

// The answer of a box that the end of the program closes.
int endResult(int style) {
  const int result = closeResult(style);
  if (result >= 0) return result;
  return (style & 0xF) == kBoxStyleYesNo ? kBoxNo : kBoxAbort;
}

}  // namespace

int GtkWindowLayer::messageBox(std::string_view text, int style, std::optional<std::string> caption,
                               WindowHandle owner) {
  const std::string title = caption.value_or(std::string(kDefaultBoxCaption));
  const std::string content(text);
  if (!gtkReady_) {
    // No display to show it on: the text still reaches the user's terminal.
    std::fprintf(stderr, "%s %s\n", title.c_str(), content.c_str());
    return endResult(style);
  }
  if (ui_->onUiThread()) return runModalBox(content, style, title, owner);
  return waitForBox(content, style, title);
}

int GtkWindowLayer::runModalBox(const std::string& text, int style, const std::string& caption,
                                WindowHandle owner) {
  GtkWidget* dialog = createMessageBox(text, style, caption);
  GtkWidget* parent = nullptr;
  if (Control* control = findByHandle(owner)) {
    parent = gtk_widget_get_toplevel(control->widget);
  } else if (window_ != nullptr && (owner == 0 || owner == handleOf(window_))) {
    parent = window_;
  }
  if (parent != nullptr && gtk_widget_get_visible(parent)) {
    gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(parent));
  }
  // Modal: the main window takes no input until the box is closed, as with
  // the classic task-modal box.
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  modalBoxes_.push_back(dialog);
  int result = -1;
  while (result < 0) {
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    result = boxResult(response, style);
    if (result < 0 && end_.requested()) result = endResult(style);
  }
  std::erase(modalBoxes_, dialog);
  gtk_widget_destroy(dialog);
  return result;
}

void GtkWindowLayer::closeModalBoxes() {
  for (GtkWidget* dialog : modalBoxes_) {
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
  }
}

// A box for another thread: the UI thread shows it without owner and without
// modality, the calling thread waits for the answer, and the main window stays
// usable meanwhile.
int GtkWindowLayer::waitForBox(const std::string& text, int style, const std::string& caption) {
  auto wait = std::make_shared<BoxWait>();
  if (!ui_->post(
          [this, text, style, caption, wait] { showOffThreadBox(text, style, caption, wait); })) {
    return endResult(style);  // the program is ending
  }
  std::unique_lock lock(wait->mutex);
  wait->closed.wait(lock, [&] { return wait->done; });
  return wait->result;
}

void GtkWindowLayer::showOffThreadBox(const std::string& text, int style,
                                      const std::string& caption,
                                      const std::shared_ptr<BoxWait>& wait) {
  GtkWidget* dialog = createMessageBox(text, style, caption);
  openBoxes_.push_back(OpenBox{dialog, style, wait});
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* box, int response, gpointer self) {
                     auto* layer = static_cast<GtkWindowLayer*>(self);
                     for (const OpenBox& open : layer->openBoxes_) {
                       if (open.dialog != GTK_WIDGET(box)) continue;
                       const int result = boxResult(response, open.style);
                       if (result >= 0) layer->answerOffThreadBox(GTK_WIDGET(box), result);
                       return;
                     }
                   }),
                   this);
  // The box goes when answered (above), not by GTK's default on delete.
  g_signal_connect(dialog, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean { return TRUE; }),
                   nullptr);
  gtk_widget_show_all(dialog);
  gtk_window_present(GTK_WINDOW(dialog));
}

void GtkWindowLayer::answerOffThreadBox(GtkWidget* dialog, int result) {
  const auto it = std::find_if(openBoxes_.begin(), openBoxes_.end(),
                               [&](const OpenBox& open) { return open.dialog == dialog; });
  if (it == openBoxes_.end()) return;
  const std::shared_ptr<BoxWait> wait = it->wait;
  openBoxes_.erase(it);
  gtk_widget_destroy(dialog);
  {
    std::lock_guard lock(wait->mutex);
    wait->result = result;
    wait->done = true;
  }
  wait->closed.notify_all();
}

void GtkWindowLayer::closeOffThreadBoxes() {
  while (!openBoxes_.empty()) {
    const OpenBox open = openBoxes_.front();
    answerOffThreadBox(open.dialog, endResult(open.style));
  }
}

}  // namespace zandrel::gtk_layer
