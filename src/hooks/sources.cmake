# Sources of src/hooks: portable ones into zandrel_core, platform ones into zandrel_platform.
target_sources(zandrel_core PRIVATE
  hooks/hotkeys.cpp
  hooks/mouse_filter.cpp)

if(ZANDREL_PLATFORM STREQUAL "gtk")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(Z_HOOKS_DEPS REQUIRED IMPORTED_TARGET
    gtk+-3.0 webkit2gtk-4.1 x11 xi)
  target_sources(zandrel_platform PRIVATE
    hooks/hotkeys_x11.cpp
    hooks/key_codes_x11.cpp
    hooks/mouse_filter_gtk.cpp)
  target_link_libraries(zandrel_platform PUBLIC PkgConfig::Z_HOOKS_DEPS)
endif()

# Hotkey timer and mouse hook on Win32.
if(ZANDREL_PLATFORM STREQUAL "win32")
  target_sources(zandrel_platform PRIVATE
    hooks/hotkeys_win32.cpp
    hooks/mouse_filter_win32.cpp)
  target_link_libraries(zandrel_platform PUBLIC user32)
endif()
