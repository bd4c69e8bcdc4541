# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the POSIX
# threads flavour, which std::thread and std::mutex need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVEX_MINGW_HOST x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUORVEX_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEX_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEX_MINGW_HOST}-windres)
set(CMAKE_AR ${QUORVEX_MINGW_HOST}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUORVEX_MINGW_HOST}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries and headers come from the target's own folders and the
# dependency prefix, never from the build machine's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_MINGW_HOST})
if(QUORVEX_DEPS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${QUORVEX_DEPS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests built as .exe run on the build machine through Wine.
# Debian puts wine64 outside PATH unless the "wine" package is installed too.
find_program(QUORVEX_WINE NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUORVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEX_WINE})
endif()
