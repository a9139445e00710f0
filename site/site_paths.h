#pragma once
// File paths are UTF-8 text inside the program. The file system takes them
// as they are on Linux and as wide strings on Windows, where a narrow path
// would be read in the ANSI code page instead.

#include <filesystem>
#include <string>
#include <string_view>

namespace zandrel::site {

inline std::filesystem::path pathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace zandrel::site
