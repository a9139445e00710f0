#pragma once
// The page the browser shows in place of an exam page it cannot load. Both
// platforms show the same words, placed in the part of the page the window
// lets the user see.

#include <string>
#include <string_view>

namespace zandrel {

// The message's two lines, used as written on every platform.
inline constexpr char kUnreachableTitle[] = "无法打开考试页面";
inline constexpr char kUnreachableAdvice[] =
    "请检查网络或考试网站，然后在“菜单”中选择“科目一全真模拟考试”或“科目四全真模拟考试”重试。";

// The site accepted the connection but did not answer in time.
inline constexpr char kNoAnswerTitle[] = "考试网站没有响应";
// The browser engine's page process kept crashing and is not started again.
inline constexpr char kEngineGaveUpTitle[] = "考试页面多次崩溃，已停止加载";
inline constexpr char kEngineGaveUpAdvice[] =
    "请在“菜单”中选择“科目一全真模拟考试”重新打开考试页面。";

// Said instead of the advice when the program's own exam site could not
// start, followed by the cause.
inline constexpr char kSiteFailedAdvice[] = "本机考试网站无法启动：";

// The program's own exam site could not serve the pages whose addresses begin
// with `addressPrefix`: their message names `cause` (a further cause for the
// same prefix is added to it) instead of sending the user to the network.
// Set at start, before the browser first loads; read on the UI thread.
void setSiteFailure(const std::string& addressPrefix, const std::string& cause);
void clearSiteFailures();
// Whether `address` lies where the program's own site could not start.
bool isFailedSiteAddress(const std::string& address);

// A whole HTML document that says the exam page at `address` cannot be
// reached (or what `title` says went wrong) and how to try again, or why the
// program's own site is not there, ending with the address (escaped, so any
// text is shown as text). Self-contained: no script, no outside resource.
std::string unreachablePageHtml(const std::string& address,
                                std::string_view title = kUnreachableTitle,
                                std::string_view advice = kUnreachableAdvice);

}  // namespace zandrel
