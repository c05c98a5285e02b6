# Cross build for 64-bit Windows with Debian's mingw-w64 compilers:
#
#   cmake -S . -B build/win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=packaging/mingw-w64-x86_64.cmake \
#         -DFRAMEMELD_BUILD_TESTS=OFF -DFRAMEMELD_BUILD_TOOLS=OFF
#
# gives framemeldAE.aex (see cmake/FramemeldPlugin.cmake for how it is linked). The PiPL
# generator cannot run as a Windows program here, so pipl/ builds its own native copy with the
# build machine's compiler (pipl/CMakeLists.txt, CMAKE_CROSSCOMPILING branch).
#
# MINGW_TRIPLET picks another mingw-w64 installation prefix (default x86_64-w64-mingw32).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(MINGW_TRIPLET "x86_64-w64-mingw32" CACHE STRING "Prefix of the mingw-w64 tools")

# The posix thread model first: only it has std::thread in GCC 12 (the host runner uses it).
# Its libwinpthread is linked statically into whatever we ship, so nothing needs its DLL.
find_program(MINGW_CXX NAMES ${MINGW_TRIPLET}-g++-posix ${MINGW_TRIPLET}-g++ REQUIRED)
find_program(MINGW_C NAMES ${MINGW_TRIPLET}-gcc-posix ${MINGW_TRIPLET}-gcc REQUIRED)
find_program(MINGW_WINDRES NAMES ${MINGW_TRIPLET}-windres REQUIRED)
set(CMAKE_CXX_COMPILER "${MINGW_CXX}")
set(CMAKE_C_COMPILER "${MINGW_C}")
set(CMAKE_RC_COMPILER "${MINGW_WINDRES}")

set(CMAKE_FIND_ROOT_PATH "/usr/${MINGW_TRIPLET}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not hand the build machine's libraries to the Windows link.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/${MINGW_TRIPLET}/lib/pkgconfig")

# The SDK headers pick their Windows branch on _WINDOWS (not on the compiler's _WIN32), as
# Adobe's own projects and CMake's MSVC defaults (/DWIN32 /D_WINDOWS) have it. Everything in
# this build includes those headers, the runner as well as the plug-in, so it goes on every
# compile line.
set(CMAKE_C_FLAGS_INIT "-DWIN32 -D_WINDOWS")
set(CMAKE_CXX_FLAGS_INIT "-DWIN32 -D_WINDOWS")

# Windows programs built here (the runner's, the render check) run under Wine.
find_program(MINGW_WINE NAMES wine wine64)
if(MINGW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${MINGW_WINE}")
endif()
