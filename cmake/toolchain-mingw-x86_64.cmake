# Cross-compiles a 64-bit Windows build with MinGW-w64 (Debian: g++-mingw-w64-x86-64). It exists
# for the tests: machines that cannot run 32-bit x86 code still run it under 64-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZEBCMD_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
