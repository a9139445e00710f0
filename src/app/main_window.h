#pragma once
// The main window's design, start-up and end of the program.

#include <string>

#include "runtime/window_layer.h"

namespace zandrel {

inline constexpr std::string_view kMainWindow = "MainWindow";
inline constexpr std::string_view kPictureBox = "图片框1";
inline constexpr std::string_view kBrowser = "超文本浏览框1";
inline constexpr std::string_view kStatusLabel = "透明标签1";
inline constexpr std::string_view kReceiverLabel = "标签1";

inline constexpr std::string_view kMenuMain = "菜单";
inline constexpr std::string_view kMenuSubject1 = "科目一全真模拟考试";
inline constexpr std::string_view kMenuSubject4 = "科目四全真模拟考试";
inline constexpr std::string_view kMenuRetake = "重新考试";
inline constexpr std::string_view kMenuExit = "退出软件";
inline constexpr std::string_view kMenuReadAloud = "语音读题(F1键)";
inline constexpr std::string_view kMenuSpeak = "语音播报";

inline constexpr std::string_view kWindowCaption = "Zandrel【PC语音读题版】含 科目一 科目四";
inline constexpr std::string_view kLoadFailedText = "载入启动窗口失败";

// The whole window as data: window, controls, menu tree and event bindings.
const WindowDesign& MainWindowDesign();

void InitGlobals();
void OnMainWindowCreated();
void ReleaseGlobals();

// The process from start to end on the current services; returns the exit code.
int RunApplication();

// The address of the examination in use.
std::string CurrentExamAddress();

}  // namespace zandrel

namespace zandrel {
// Only the exam commands replace it.
void SetCurrentExamAddress(std::string_view address);
}  // namespace zandrel
