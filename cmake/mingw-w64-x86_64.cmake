# Cross-build for 64-bit Windows with mingw-w64 (posix threads model), running
# the test programs under Wine.
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(UTILS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${UTILS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UTILS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${UTILS_MINGW_PREFIX}-windres)

# Look for headers, libraries and packages only in the target's tree, for build
# tools only on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${UTILS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the compiler's runtime (libstdc++, libgcc, winpthread) statically, so the
# outputs import only system DLLs and run without extra files beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine. The Debian package has no wine64 on PATH, and
# /usr/bin/wine complains about the missing 32-bit loader.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
