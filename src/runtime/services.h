#pragma once
// The platform services the portable core runs on. The program's start-up
// fills them with the platform's implementations; unit tests with fakes.

namespace zandrel {

class WindowLayer;
class SpeechEngine;
class PageBridge;
class HotkeyPlatform;
class MouseHookPlatform;

struct Services {
  WindowLayer* window = nullptr;
  SpeechEngine* speech = nullptr;
  PageBridge* page = nullptr;
  HotkeyPlatform* hotkeys = nullptr;
  MouseHookPlatform* mouse = nullptr;
};

Services& services();

}  // namespace zandrel
