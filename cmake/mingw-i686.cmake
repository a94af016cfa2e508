# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (packages g++-mingw-w64-i686 and
# binutils-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KELVRA_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
