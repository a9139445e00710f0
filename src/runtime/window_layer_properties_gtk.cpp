#include <algorithm>

#include "runtime/window_layer_impl_gtk.h"

namespace zandrel::gtk_layer {

// Properties: served on the UI thread for every caller.

int GtkWindowLayer::height(std::string_view name) {
  int result = 0;
  ui_->invoke([&] {
    if (window_ != nullptr && name == design_.name) {
      result = outerHeight_;
    } else if (Control* control = find(name); control != nullptr && control->widget != nullptr) {
      result = control->design.height;
    }
  });
  return result;
}

void GtkWindowLayer::setHeight(std::string_view name, int value) {
  ui_->invoke([&] {
    if (window_ != nullptr && name == design_.name) {
      // The top-left corner stays: the window grows or shrinks at the bottom.
      outerHeight_ = value;
      applyGeometry();
    } else if (Control* control = find(name); control != nullptr && control->widget != nullptr) {
      control->design.height = std::max(0, value);
      gtk_widget_set_size_request(control->widget, std::max(0, control->design.width),
                                  control->design.height);
      if (GTK_IS_LABEL(control->widget)) {
        gtk_widget_set_size_request(gtk_widget_get_parent(control->widget),
                                    std::max(0, control->design.width), control->design.height);
      }
    }
  });
}

std::string GtkWindowLayer::url(std::string_view name) {
  std::string result;
  ui_->invoke([&] {
    Control* control = find(name);
    if (control == nullptr || control->browser == nullptr || control->widget == nullptr) return;
    if (navigated_ && navigated_->view == control->widget) {
      result = navigated_->address;
    } else {
      result = control->browser->address();
    }
  });
  return result;
}

void GtkWindowLayer::setUrl(std::string_view name, std::string_view address) {
  ui_->invoke([&] {
    Control* control = find(name);
    if (control == nullptr || control->browser == nullptr || control->widget == nullptr) return;
    control->browser->navigate(std::string(address));
  });
}

std::string GtkWindowLayer::caption(std::string_view name) {
  std::string result;
  ui_->invoke([&] {
    if (window_ != nullptr && name == design_.name) {
      const gchar* title = gtk_window_get_title(GTK_WINDOW(window_));
      result = title != nullptr ? title : "";
    } else if (Control* control = find(name);
               control != nullptr && control->widget != nullptr && GTK_IS_LABEL(control->widget)) {
      result = gtk_label_get_text(GTK_LABEL(control->widget));
    }
  });
  return result;
}

void GtkWindowLayer::setCaption(std::string_view name, std::string_view text) {
  ui_->invoke([&] {
    const std::string value(text);
    if (window_ != nullptr && name == design_.name) {
      gtk_window_set_title(GTK_WINDOW(window_), value.c_str());
    } else if (Control* control = find(name);
               control != nullptr && control->widget != nullptr && GTK_IS_LABEL(control->widget)) {
      gtk_label_set_text(GTK_LABEL(control->widget), value.c_str());
    }
  });
}

}  // namespace zandrel::gtk_layer
