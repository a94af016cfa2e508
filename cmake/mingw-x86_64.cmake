# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (packages g++-mingw-w64-x86-64 and
# binutils-mingw-w64-x86-64): the Win32 run under 64-bit Wine, on machines that run no 32-bit
# code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVRA_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
