# Cross-compiles for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix, whose
# thread model has std::thread):
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The program is linked statically (C and C++ runtimes, threads), so qrvdiff.exe needs no DLL
# beside it. QRVDIFF_MINGW_PREFIX names another compiler prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QRVDIFF_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Prefix of the MinGW-w64 tools")
find_program(CMAKE_CXX_COMPILER NAMES ${QRVDIFF_MINGW_PREFIX}-g++-posix ${QRVDIFF_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QRVDIFF_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QRVDIFF_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run the program under an emulator where one is named (ci-windows.sh runs it under wine).
