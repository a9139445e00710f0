#include "app/exam_commands.h"

#include "app/exam_hosts.h"
#include "app/main_window.h"
#include "runtime/services.h"
#include "runtime/window_layer.h"

namespace zandrel {
namespace {

WindowLayer& window() {
  return *services().window;
}

void chooseExam(std::string_view address, int windowHeight) {
  SetCurrentExamAddress(address);
  window().setUrl(kBrowser, CurrentExamAddress());
  window().setHeight(kMainWindow, windowHeight);
}

}  // namespace

void OnSubject1Exam() {
  chooseExam(Subject1ExamAddress(), Subject1WindowHeight);
}

void OnSubject4Exam() {
  chooseExam(Subject4ExamAddress(), Subject4WindowHeight);
}

void OnRetakeExam() {
  window().setUrl(kBrowser, CurrentExamAddress());
  window().setHeight(kBrowser, ExamBrowserHeight);
}

void OnExitProgram() {
  window().endProgram(0);
}

void OnBrowserNavigated() {
  // Whole-text comparison (with the port the program serves on): a query, a
  // fragment or another letter case is another page.
  if (window().url(kBrowser) == Subject4ScoreAddress()) {
    window().setHeight(kBrowser, ScorePageBrowserHeight);
  }
}

}  // namespace zandrel
