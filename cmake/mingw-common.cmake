# What both mingw-w64 toolchain files share, once they have set CMAKE_SYSTEM_PROCESSOR and
# KELVRA_MINGW_PREFIX. The win32 thread model is preferred: the posix one would add a winpthread
# DLL to what the program imports.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_CXX_COMPILER NAMES ${KELVRA_MINGW_PREFIX}-g++-win32 ${KELVRA_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KELVRA_MINGW_PREFIX}-windres REQUIRED)
find_program(KELVRA_MINGW_OBJDUMP NAMES ${KELVRA_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVRA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
