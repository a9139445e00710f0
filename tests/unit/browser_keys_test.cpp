// The keys the window keeps from the browser engine, the same on every platform.

#include "runtime/browser_keys.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

constexpr int Ctrl = kBrowserKeyCtrl;
constexpr int Alt = kBrowserKeyAlt;
constexpr int Shift = kBrowserKeyShift;

TEST(BrowserKeys, ReloadBackForwardDialogsAndZoomNeverReachTheEngine) {
  const std::pair<int, int> commands[] = {
      {0x74, 0},           {0x74, Ctrl},        {0x74, Shift},
      {'R', Ctrl},         {'R', Ctrl | Shift}, {0x08, 0},
      {0x08, Shift},       {0x25, Alt},         {0x27, Alt},
      {'F', Ctrl},         {'P', Ctrl},         {'N', Ctrl},
      {'N', Ctrl | Shift}, {'O', Ctrl},         {'L', Ctrl},
      {'S', Ctrl},         {0xBB, Ctrl},        {0xBB, Ctrl | Shift},
      {0xBD, Ctrl},        {0x6B, Ctrl},        {0x6D, Ctrl},
      {'0', Ctrl},         {0x60, Ctrl},        {0xA6, 0},
      {0xA7, 0},           {0xA8, 0},           {0x72, 0},
      {0x7A, 0},
  };
  for (const auto& [key, modifiers] : commands) {
    EXPECT_TRUE(IsBrowserCommandKey(key, modifiers)) << std::hex << key << " " << modifiers;
  }
  EXPECT_TRUE(IsBrowserZoomWheel(Ctrl));
  EXPECT_TRUE(IsBrowserZoomWheel(Ctrl | Shift));
}

TEST(BrowserKeys, ThePagesKeysAndF1StillReachIt) {
  const std::pair<int, int> pageKeys[] = {
      {0x70, 0},
      {0x09, 0},
      {0x09, Shift},
      {0x20, 0},
      {0x0D, 0},
      {0x25, 0},
      {0x26, 0},
      {0x27, 0},
      {0x28, 0},
      {'A', 0},
      {'R', 0},
      {'F', Shift},
      {'0', 0},
      {'9', 0},
      {0x60, 0},
      {0xBB, 0},
      {0xBD, 0},
      {0x1B, 0},
      {'A', Ctrl},
      {'C', Ctrl},
      {'V', Ctrl},
      {0x26, Alt},
      {0x28, Alt},
      // Ctrl+Alt is AltGr, which types characters on many layouts.
      {'S', Ctrl | Alt},
      {'0', Ctrl | Alt},
  };
  for (const auto& [key, modifiers] : pageKeys) {
    EXPECT_FALSE(IsBrowserCommandKey(key, modifiers)) << std::hex << key << " " << modifiers;
  }
  EXPECT_FALSE(IsBrowserZoomWheel(0));
  EXPECT_FALSE(IsBrowserZoomWheel(Shift));
}

}  // namespace
}  // namespace zandrel
