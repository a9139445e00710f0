#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "site_paths.h"
#include "site_process.h"

namespace zandrel::site {

void raiseOpenFileLimit() {}

void keepSocketFromChildProcesses(std::uintptr_t socket) {
  SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

namespace {

// Set by the console's Ctrl+C / Ctrl+Break / close handler, which Windows
// runs on a thread of its own.
std::atomic<bool> stopAsked{false};
// Set once the program has stopped serving: a console being closed ends the
// process as soon as the handler returns, so the handler waits for this.
std::atomic<bool> stopDone{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stopAsked = true;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stopAsked = true;
      // Windows allows a few seconds before it ends the process anyway.
      for (int i = 0; i < 80 && !stopDone; ++i) Sleep(50);
      return TRUE;
    default:
      return FALSE;
  }
}

std::string utf8FromWide(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(size - 1));
  return utf8;
}

struct LocalFreeDeleter {
  void operator()(wchar_t** memory) const { LocalFree(memory); }
};

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<wchar_t*, LocalFreeDeleter> wide(
      CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide || count < 1) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(utf8FromWide(wide.get()[i]));
  return args;
}

std::string programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  return utf8FromPath(std::filesystem::path(path).parent_path());
}

void prepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
}

void holdOwnConsoleWindow() {
  // The console is ours alone when no shell shares it.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == INVALID_HANDLE_VALUE || input == nullptr || GetFileType(input) != FILE_TYPE_CHAR)
    return;
  std::fputs("Press Enter to close this window.\n", stderr);
  FlushConsoleInputBuffer(input);
  std::getchar();
}

StopRequest::StopRequest() {
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopRequest::~StopRequest() {
  stopDone = true;
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

StopRequest::Wait StopRequest::wait(std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!stopAsked) {
    if (std::chrono::steady_clock::now() >= until) return Wait::Timeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Wait::Stop;
}

}  // namespace zandrel::site
