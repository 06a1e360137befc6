# Cross-builds the Windows program on Linux with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -G Ninja -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The tests then run under wine: ctest prefixes every test program with the emulator below.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVR_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: with GCC 12 the win32 one's libstdc++ has no std::thread and no
# std::mutex, which any code of ours or of GoogleTest's may come to need.
set(CMAKE_C_COMPILER ${QVR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QVR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -O2 as the native builds have it: GCC 12's -O3 finds buffer overflows in the tests that are
# not there (stringop-overflow), and warnings are errors.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for release builds")

# Every program linked statically, the test programs too: the C and C++ runtimes and
# winpthread go inside, so each runs under wine with nothing beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine in a prefix of their own inside the build folder, so that a
# build never touches the user's ~/.wine. Mono and Gecko are not wanted: declining them keeps
# the prefix small and its creation quick.
find_program(QVR_WINE NAMES wine)
if(QVR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEARCH=win64 WINEDEBUG=-all
      "WINEDLLOVERRIDES=mscoree,mshtml=" ${QVR_WINE})
endif()
