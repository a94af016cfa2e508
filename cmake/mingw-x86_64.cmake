# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (packages g++-mingw-w64-x86-64 and
# binutils-mingw-w64-x86-64): the Win32 run under 64-bit Wine, on machines that run no 32-bit
# code. The win32 thread model is preferred: the posix one would add a winpthread DLL to what
# the program imports.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVRA_MINGW_PREFIX x86_64-w64-mingw32)

find_program(CMAKE_CXX_COMPILER NAMES ${KELVRA_MINGW_PREFIX}-g++-win32 ${KELVRA_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KELVRA_MINGW_PREFIX}-windres REQUIRED)
find_program(KELVRA_MINGW_OBJDUMP NAMES ${KELVRA_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVRA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
