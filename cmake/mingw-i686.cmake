# Cross build for 32-bit Windows with Debian's mingw-w64 (POSIX threads
# variant). Debian's wine runs only 64-bit programs here, so this build is
# compiled and linked but not run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUAYLINK_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUAYLINK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUAYLINK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUAYLINK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUAYLINK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
