# Sources of src/page: portable ones into zandrel_core, platform ones into zandrel_platform.
target_sources(zandrel_core PRIVATE
  page/dom_search.cpp
  page/web_page.cpp)

if(ZANDREL_PLATFORM STREQUAL "gtk")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ZPAGE_WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
  pkg_check_modules(ZPAGE_WEBEXT REQUIRED IMPORTED_TARGET webkit2gtk-web-extension-4.1)

  # The bridge is a library of its own inside the platform layer, so the page
  # tests can link it alone.
  add_library(zandrel_page_gtk STATIC page/web_page_gtk.cpp)
  target_link_libraries(zandrel_page_gtk PUBLIC zandrel_core zandrel_ui_dispatch_gtk
    PkgConfig::ZPAGE_WEBKIT)
  target_link_libraries(zandrel_platform PUBLIC zandrel_page_gtk)

  # The extension WebKit loads into its web process, in "webext" next to the
  # program. It carries its own copy of the portable DIV search, and of the
  # spoken-text rules, which say how much of the question's markup a read
  # needs. It is built without sanitizers whatever the rest is built with: the
  # web process is not an instrumented program and cannot load an
  # instrumented module.
  add_library(zandrel-webext MODULE
    page/webext/page_extension_gtk.cpp
    page/jsc_object_gtk.cpp
    page/dom_search.cpp
    runtime/spoken_text.cpp)
  set_target_properties(zandrel-webext PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY "$<TARGET_FILE_DIR:zandrel>/webext"
    COMPILE_OPTIONS "-Wall;-Wextra;-Werror;${Z_HARDENING_COMPILE_OPTIONS}"
    LINK_OPTIONS "${Z_HARDENING_LINK_OPTIONS}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(zandrel-webext PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(zandrel-webext PRIVATE PkgConfig::ZPAGE_WEBEXT)
  # Whatever links the bridge finds the extension built.
  add_dependencies(zandrel_page_gtk zandrel-webext)

  # Installed, the extension sits in the program's private library directory;
  # the bridge finds it there relative to the program, so a package unpacked
  # under any prefix works.
  include(GNUInstallDirs)
  set(ZANDREL_WEBEXT_INSTALL_DIR lib/zandrel/webext CACHE INTERNAL "")
  file(RELATIVE_PATH z_webext_from_bin /${CMAKE_INSTALL_BINDIR} /${ZANDREL_WEBEXT_INSTALL_DIR})
  target_compile_definitions(zandrel_page_gtk PRIVATE
    ZANDREL_INSTALLED_WEBEXT_DIR="${z_webext_from_bin}")
endif()

# Page access on Windows: window tree, accessibility bridge, IDispatch.
if(ZANDREL_PLATFORM STREQUAL "win32")
  target_sources(zandrel_platform PRIVATE
    page/automation_win32.cpp
    page/web_page_win32.cpp)
  target_link_libraries(zandrel_platform PUBLIC oleacc ole32 oleaut32)
endif()
