#include "app/platform.h"

#include <windows.h>

#include <cstdio>

#include "app/read_aloud.h"
#include "hooks/hotkeys_win32.h"
#include "hooks/mouse_filter_win32.h"
#include "page/web_page_win32.h"
#include "runtime/speech_sapi.h"
#include "runtime/window_layer_win32.h"

namespace zandrel {
namespace {

// A windowed program started from a console has no usable standard error of
// its own (unless redirected): the read log goes to that console instead.
void logToStartingConsole() {
  if (!ReadLogRequested() || GetFileType(GetStdHandle(STD_ERROR_HANDLE)) != FILE_TYPE_UNKNOWN)
    return;
  if (AttachConsole(ATTACH_PARENT_PROCESS)) std::freopen("CONOUT$", "w", stderr);
}

}  // namespace

void prepareLogOutput() {
  logToStartingConsole();
}

std::unique_ptr<Platform> createPlatform() {
  std::unique_ptr<WindowLayer> window = createWin32WindowLayer();
  std::unique_ptr<SpeechEngine> speech = createSapiEngine();
  std::unique_ptr<PageBridge> page = createWin32PageBridge();
  return std::make_unique<Platform>(std::move(window), std::move(speech), std::move(page),
                                    createWin32HotkeyPlatform(), createWin32MouseHookPlatform());
}

}  // namespace zandrel
