# Sources of src/app: portable ones into zandrel_core, platform ones into zandrel_platform.
target_sources(zandrel_core PRIVATE
  app/main_window.cpp
  app/exam_commands.cpp
  app/exam_hosts.cpp
  app/read_aloud.cpp
  app/platform.cpp)

# The local exam site inside the program (see app/embedded_site.h): the site's
# own library, linked into zandrel on both platforms. Outside the portable
# core, whose tests need no server.
add_library(zandrel_embedded_site STATIC app/embedded_site.cpp)
if(WIN32)
  target_sources(zandrel_embedded_site PRIVATE app/embedded_site_win32.cpp)
else()
  target_sources(zandrel_embedded_site PRIVATE app/embedded_site_posix.cpp)
endif()
target_include_directories(zandrel_embedded_site PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${Z_GENERATED})
target_link_libraries(zandrel_embedded_site PUBLIC zandrel_site_lib)

add_executable(zandrel app/main.cpp)
target_link_libraries(zandrel PRIVATE zandrel_platform zandrel_embedded_site)
# At the top of the build tree, where scripts and tests look for it.
set_target_properties(zandrel PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
if(WIN32)
  # A GUI program (no console); its entry point is the ordinary main().
  target_link_options(zandrel PRIVATE -mwindows)
endif()
if(ZANDREL_PLATFORM STREQUAL "gtk")
  target_sources(zandrel_platform PRIVATE app/platform_gtk.cpp app/single_instance_posix.cpp
    app/single_instance_x11.cpp)
endif()

# Windows (Win32 + WebBrowser + SAPI 5): the start-up's platform services and
# the application manifest, which is linked into zandrel.exe itself.
if(ZANDREL_PLATFORM STREQUAL "win32")
  enable_language(RC)
  target_sources(zandrel_platform PRIVATE app/platform_win32.cpp app/single_instance_win32.cpp)
  set_source_files_properties(app/zandrel.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/app/zandrel.manifest;${Z_WINDOWS_RESOURCE_DEPENDS}"
    COMPILE_DEFINITIONS "${Z_WINDOWS_RESOURCE_DEFINITIONS}"
    COMPILE_OPTIONS "--include-dir=${CMAKE_CURRENT_SOURCE_DIR}/app;${Z_WINDOWS_RESOURCE_OPTIONS}")
  target_sources(zandrel PRIVATE app/zandrel.rc)
endif()
