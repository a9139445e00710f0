# Cross-build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# variant: the win32 variant has no std::thread). Programs built here run
# under Wine through scripts/wine-run, which CTest uses as the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(Z_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${Z_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${Z_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${Z_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${Z_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program links its runtime statically, so a bare .exe runs on a clean
# Windows (and under Wine) without libstdc++/winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The Wine prefix, its locale and its Xvfb live in the build tree, private to
# this build.
get_filename_component(Z_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${Z_WINE_RUN};--root=${CMAKE_BINARY_DIR}/wine")
