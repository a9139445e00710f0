# Sources of src/runtime: portable ones into zandrel_core, platform ones into zandrel_platform.
target_sources(zandrel_core PRIVATE
  runtime/error_page.cpp
  runtime/services.cpp
  runtime/ui_dispatcher.cpp
  runtime/window_layer.cpp
  runtime/window_placement.cpp
  runtime/browser_keys.cpp)

# Window layer on GTK 3 + WebKitGTK 4.1 (X11).
if(ZANDREL_PLATFORM STREQUAL "gtk")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(Z_WINDOW_GTK REQUIRED IMPORTED_TARGET gtk+-3.0 webkit2gtk-4.1 x11)
  target_sources(zandrel_platform PRIVATE
    runtime/browser_keys_gtk.cpp
    runtime/window_layer_gtk.cpp
    runtime/window_layer_box_gtk.cpp
    runtime/window_layer_browser_gtk.cpp
    runtime/window_layer_end_gtk.cpp
    runtime/window_layer_frame_x11.cpp
    runtime/window_layer_properties_gtk.cpp)
  # The way onto the UI thread, a library of its own: the page bridge's
  # library reaches the UI thread through it too.
  add_library(zandrel_ui_dispatch_gtk STATIC runtime/ui_dispatcher_gtk.cpp)
  target_link_libraries(zandrel_ui_dispatch_gtk PUBLIC zandrel_core PkgConfig::Z_WINDOW_GTK)
  target_link_libraries(zandrel_platform PUBLIC zandrel_ui_dispatch_gtk)
endif()

# Window layer and speech on Win32 + the WebBrowser control + SAPI 5.
if(ZANDREL_PLATFORM STREQUAL "win32")
  target_sources(zandrel_platform PRIVATE
    runtime/support_win32.cpp
    runtime/browser_host_win32.cpp
    runtime/browser_mode_win32.cpp
    runtime/browser_site_win32.cpp
    runtime/window_layer_win32.cpp
    runtime/window_layer_box_win32.cpp
    runtime/window_layer_end_win32.cpp
    runtime/window_layer_properties_win32.cpp
    runtime/speech_sapi.cpp)
  target_compile_definitions(zandrel_platform PUBLIC UNICODE _UNICODE NOMINMAX)
  target_link_libraries(zandrel_platform PUBLIC sapi ole32 oleaut32 uuid comctl32 user32 gdi32
    advapi32)
endif()

# Speech: the portable speech object and markup-to-speech text.
target_sources(zandrel_core PRIVATE
  runtime/speech.cpp
  runtime/spoken_mandarin.cpp
  runtime/spoken_text.cpp)

# Speech on Linux: speech-dispatcher through libspeechd.
if(ZANDREL_PLATFORM STREQUAL "gtk")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(Z_SPEECHD REQUIRED IMPORTED_TARGET speech-dispatcher)
  target_sources(zandrel_platform PRIVATE
    runtime/speech_speechd.cpp
    runtime/ssip_client_speechd.cpp)
  target_link_libraries(zandrel_platform PUBLIC PkgConfig::Z_SPEECHD)
endif()
