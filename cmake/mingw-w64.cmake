# Cross build for 64-bit Windows with Debian's MinGW-w64 (package mingw-w64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DZARVIK_GUI=OFF
# The programs link statically, so zarvik-cli.exe runs without any DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZARVIK_MINGW_PREFIX x86_64-w64-mingw32)

# The POSIX threads flavour: std::thread and std::mutex need it with GCC 12.
find_program(CMAKE_C_COMPILER NAMES ${ZARVIK_MINGW_PREFIX}-gcc-posix ${ZARVIK_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${ZARVIK_MINGW_PREFIX}-g++-posix ${ZARVIK_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${ZARVIK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZARVIK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests and the programs run under Wine on the build machine.
find_program(ZARVIK_WINE NAMES wine wine64)
if(ZARVIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZARVIK_WINE})
endif()
