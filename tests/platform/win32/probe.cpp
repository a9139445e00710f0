// A small Windows-side eye for the end-to-end test: it reads what X cannot
// tell about another process's windows (styles, enabled state, the texts of
// a message box), presses a message box's button and reads what a process
// holds. One JSON line out.
//
//   probe window <caption>          the top-level window with that caption
//   probe box <caption>             the message box with that caption
//   probe press <caption> <button>  posts the button's command to that box
//   probe child <caption> <text>    the child window with that text, in the
//                                   client coordinates of its parent
//   probe process <name.exe>        private bytes, handles and threads of
//                                   the process of that name
//   probe minimize <caption>        minimises the top-level window with that caption
//   probe close <caption>           posts WM_CLOSE to the top-level window with
//                                   that caption, as another program would
//   probe stubborn <seconds>        stands in for a Zandrel that does not close:
//                                   a window of its main window's class that
//                                   ignores WM_CLOSE, for that long

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                      nullptr, nullptr);
  return text;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) continue;
    out += c;
  }
  return out + "\"";
}

std::wstring textOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

int printWindow(HWND window) {
  if (!window) {
    std::printf("{\"found\": false}\n");
    return 1;
  }
  RECT rc;
  GetWindowRect(window, &rc);
  POINT client{0, 0};
  ClientToScreen(window, &client);
  RECT inner;
  GetClientRect(window, &inner);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  std::printf(
      "{\"found\": true, \"caption\": %s, \"left\": %ld, \"top\": %ld, \"width\": %ld, "
      "\"height\": %ld, \"clientLeft\": %ld, \"clientTop\": %ld, \"clientWidth\": %ld, "
      "\"clientHeight\": %ld, \"maximizeBox\": %s, \"minimizeBox\": %s, \"thickFrame\": %s, "
      "\"sysMenu\": %s, \"enabled\": %s, \"visible\": %s, \"hasMenu\": %s, \"iconic\": %s, "
      "\"foreground\": %s}\n",
      quoted(utf8(textOf(window))).c_str(), rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
      client.x, client.y, inner.right, inner.bottom, (style & WS_MAXIMIZEBOX) ? "true" : "false",
      (style & WS_MINIMIZEBOX) ? "true" : "false", (style & WS_THICKFRAME) ? "true" : "false",
      (style & WS_SYSMENU) ? "true" : "false", IsWindowEnabled(window) ? "true" : "false",
      IsWindowVisible(window) ? "true" : "false", GetMenu(window) ? "true" : "false",
      IsIconic(window) ? "true" : "false", GetForegroundWindow() == window ? "true" : "false");
  return 0;
}

BOOL CALLBACK collect(HWND child, LPARAM texts) {
  const std::wstring text = textOf(child);
  if (!text.empty()) reinterpret_cast<std::vector<std::string>*>(texts)->push_back(utf8(text));
  return TRUE;
}

int printBox(HWND box) {
  if (!box) {
    std::printf("{\"found\": false}\n");
    return 1;
  }
  std::vector<std::string> texts;
  EnumChildWindows(box, &collect, reinterpret_cast<LPARAM>(&texts));
  std::string list = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) list += (i ? ", " : "") + quoted(texts[i]);
  list += "]";
  DWORD process = 0;
  GetWindowThreadProcessId(box, &process);
  std::printf("{\"found\": true, \"caption\": %s, \"texts\": %s, \"owner\": %s}\n",
              quoted(utf8(textOf(box))).c_str(), list.c_str(),
              GetWindow(box, GW_OWNER) ? "true" : "false");
  return 0;
}

int printChild(HWND top, const std::wstring& text) {
  HWND child = top ? FindWindowExW(top, nullptr, nullptr, text.c_str()) : nullptr;
  if (!child) {
    std::printf("{\"found\": false}\n");
    return 1;
  }
  RECT rc;
  GetWindowRect(child, &rc);
  MapWindowPoints(HWND_DESKTOP, top, reinterpret_cast<POINT*>(&rc), 2);
  std::printf("{\"found\": true, \"left\": %ld, \"top\": %ld}\n", rc.left, rc.top);
  return 0;
}

// Wine reports no handle count for another process: its handles are counted
// by duplicating each possible value (Wine's handles are small multiples of 4).
DWORD countHandles(HANDLE process) {
  DWORD count = 0;
  DWORD misses = 0;
  for (ULONG_PTR value = 4; misses < 4096; value += 4) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0,
                        FALSE, DUPLICATE_SAME_ACCESS)) {
      CloseHandle(copy);
      ++count;
      misses = 0;
    } else if (GetLastError() == ERROR_INVALID_HANDLE) {
      ++misses;
    } else {
      ++count;  // a handle that cannot be duplicated (a console one, say)
      misses = 0;
    }
  }
  return count;
}

int printProcess(const std::wstring& name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD id = 0;
  DWORD threads = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, name.c_str()) == 0) {
      id = entry.th32ProcessID;
      threads = entry.cntThreads;
      break;
    }
  }
  CloseHandle(snapshot);
  HANDLE process =
      id ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, id)
         : nullptr;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  DWORD handles = 0;
  const bool read =
      process &&
      GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory) &&
      GetProcessHandleCount(process, &handles);
  if (!read) {
    if (process) CloseHandle(process);
    std::printf("{\"found\": false}\n");
    return 1;
  }
  // Wine fills neither PrivateUsage nor the handle count for another process:
  // its PagefileUsage (the process's anonymous memory) stands in for the
  // private bytes, and the handles are counted.
  const unsigned long long privateBytes =
      memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
  std::printf(
      "{\"found\": true, \"pid\": %lu, \"privateBytes\": %llu, \"handles\": %lu, "
      "\"threads\": %lu}\n",
      id, privateBytes, handles ? handles : countHandles(process), threads);
  CloseHandle(process);
  return 0;
}

LRESULT CALLBACK stubbornProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) return 0;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

int stubborn(int seconds) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = stubbornProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZandrelMainWindow";
  if (!RegisterClassW(&wc)) return 1;
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"stubborn Zandrel", WS_OVERLAPPEDWINDOW, 0, 0,
                                300, 200, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) return 1;
  std::printf("{\"found\": true}\n");
  std::fflush(stdout);
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  MSG msg;
  while (GetTickCount64() < end) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  DestroyWindow(window);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"window") {
    return printWindow(FindWindowW(nullptr, argv[2]));
  }
  if (argc >= 3 && std::wstring(argv[1]) == L"minimize") {
    HWND window = FindWindowW(nullptr, argv[2]);
    if (window) ShowWindow(window, SW_MINIMIZE);
    return printWindow(window);
  }
  if (argc >= 3 && std::wstring(argv[1]) == L"box") {
    return printBox(FindWindowW(L"#32770", argv[2]));
  }
  if (argc >= 4 && std::wstring(argv[1]) == L"press") {
    HWND box = FindWindowW(L"#32770", argv[2]);
    const int button = _wtoi(argv[3]);
    const bool posted = box && PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    std::printf("{\"pressed\": %s}\n", posted ? "true" : "false");
    return posted ? 0 : 1;
  }
  if (argc >= 4 && std::wstring(argv[1]) == L"child") {
    return printChild(FindWindowW(nullptr, argv[2]), argv[3]);
  }
  if (argc >= 3 && std::wstring(argv[1]) == L"process") return printProcess(argv[2]);
  if (argc >= 3 && std::wstring(argv[1]) == L"close") {
    HWND window = FindWindowW(nullptr, argv[2]);
    const bool posted = window && PostMessageW(window, WM_CLOSE, 0, 0);
    std::printf("{\"posted\": %s}\n", posted ? "true" : "false");
    return posted ? 0 : 1;
  }
  if (argc >= 3 && std::wstring(argv[1]) == L"stubborn") return stubborn(_wtoi(argv[2]));
  std::fprintf(
      stderr,
      "usage: probe window|box <caption> | press <caption> <button> | "
      "child <caption> <text> | process <name.exe> | close <caption> | stubborn <seconds>\n");
  return 2;
}
