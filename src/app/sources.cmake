# Sources of src/app: portable ones into zandrel_core, platform ones into zandrel_platform.
target_sources(zandrel_core PRIVATE
  app/main_window.cpp
  app/exam_commands.cpp
  app/read_aloud.cpp)

add_executable(zandrel app/main.cpp)
target_link_libraries(zandrel PRIVATE zandrel_platform)
if(WIN32)
  target_link_options(zandrel PRIVATE -mwindows -municode)
endif()
if(ZANDREL_PLATFORM STREQUAL "gtk")
  target_sources(zandrel_platform PRIVATE app/platform_gtk.cpp)
endif()
