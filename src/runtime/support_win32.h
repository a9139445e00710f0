#pragma once
// Helpers the Windows layer shares: UTF-8 <-> UTF-16 at the API boundary (the
// program's texts are UTF-8, independent of the system code page) and the
// dispatching of a thread's waiting messages.

#include <string>
#include <string_view>

namespace zandrel::win32 {

// The class of the WebBrowser control's document window, which the page
// bridge searches for and the mouse filter recognises in the focus.
inline constexpr std::string_view kDocumentWindowClass = "Internet Explorer_Server";

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// Dispatches the calling thread's waiting messages until the queue is empty
// or a quit message is next; the quit message stays queued, so the loop that
// owns the thread still sees it.
void dispatchWaitingMessages();

}  // namespace zandrel::win32
