# Cross-compiles the 32-bit Windows build with Debian's i686 MinGW-w64
# toolchain and runs the resulting test programs under wine.
#
#   cmake -G Ninja -S . -B build/windows \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
#
# The posix thread model is used: its libstdc++ has std::thread and
# std::mutex, which GoogleTest and the tests may use.  Everything is linked
# statically, so neither the plug-ins nor the test programs need any DLL
# beyond the system's own (no libstdc++-6.dll or libwinpthread-1.dll).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CORVANE_MINGW_PREFIX i686-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${CORVANE_MINGW_PREFIX}-gcc-posix ${CORVANE_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CORVANE_MINGW_PREFIX}-g++-posix ${CORVANE_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CORVANE_MINGW_PREFIX}-windres REQUIRED)
find_program(CMAKE_AR NAMES ${CORVANE_MINGW_PREFIX}-gcc-ar-posix ${CORVANE_MINGW_PREFIX}-ar)
find_program(CMAKE_RANLIB NAMES ${CORVANE_MINGW_PREFIX}-gcc-ranlib-posix ${CORVANE_MINGW_PREFIX}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine, quietly, in a wine prefix of the build tree's
# own, so that a fresh headless machine needs no home-directory state.
# cmake/windows.sh creates the prefix (wineboot) before ctest runs.
find_program(CORVANE_WINE NAMES wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
    WINEDLLOVERRIDES=mscoree,mshtml= ${CORVANE_WINE})
