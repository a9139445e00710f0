// The main window on the GTK layer alone, with the menu commands' effects on
// the window (addresses and heights): lets the end-to-end window tests run
// against the layer without the rest of the program
// (ZANDREL_E2E_PROGRAM=.../window_layer_demo).

#include <string>

#include "app/exam_hosts.h"
#include "runtime/window_layer_gtk.h"
#include "window_layer_support.h"

namespace {

zandrel::WindowLayer* layer = nullptr;
std::string current;

constexpr const char* kBrowser = "超文本浏览框1";

void subject1() {
  current = zandrel::Subject1ExamAddress();
  layer->setUrl(kBrowser, current);
  layer->setHeight("MainWindow", 623);
}
void subject4() {
  current = zandrel::Subject4ExamAddress();
  layer->setUrl(kBrowser, current);
  layer->setHeight("MainWindow", 555);
}
void retake() {
  layer->setUrl(kBrowser, current);
  layer->setHeight(kBrowser, 2800);
}
void quit() {
  layer->endProgram(0);
}
void speak() {
  layer->setCaption("透明标签1", "加载完毕");
}
void navigated() {
  if (layer->url(kBrowser) == zandrel::Subject4ScoreAddress()) layer->setHeight(kBrowser, 810);
}

}  // namespace

int main() {
  auto owned = zandrel::createGtkWindowLayer();
  layer = owned.get();
  if (!layer->initialise()) return -1;
  current = zandrel::Subject1ExamAddress();
  zandrel::WindowDesign design = zandrel::testing::mainDesign(current);
  using zandrel::EventKind;
  design.bindings = {
      {"科目一全真模拟考试", EventKind::MenuSelected, subject1, nullptr},
      {"科目四全真模拟考试", EventKind::MenuSelected, subject4, nullptr},
      {"重新考试", EventKind::MenuSelected, retake, nullptr},
      {"退出软件", EventKind::MenuSelected, quit, nullptr},
      {"语音播报", EventKind::MenuSelected, speak, nullptr},
      {kBrowser, EventKind::Navigated, navigated, nullptr},
  };
  if (!layer->loadWindow(design)) {
    zandrel::messageBox(*layer, "载入启动窗口失败");
    return -1;
  }
  return layer->messageLoop();
}
