# Shared part of the Windows cross builds with Debian's mingw-w64; the
# including toolchain file sets CMAKE_SYSTEM_PROCESSOR, VTR_MINGW_PREFIX and
# VTR_MINGW_PACKAGE. The win32 thread model is used on purpose: the driver
# calls the Win32 API for locks and timers and must not depend on
# libwinpthread-1.dll.
set(CMAKE_SYSTEM_NAME Windows)

find_program(VTR_MINGW_CXX NAMES ${VTR_MINGW_PREFIX}-g++-win32 ${VTR_MINGW_PREFIX}-g++)
find_program(VTR_MINGW_CC NAMES ${VTR_MINGW_PREFIX}-gcc-win32 ${VTR_MINGW_PREFIX}-gcc)
find_program(VTR_MINGW_RC NAMES ${VTR_MINGW_PREFIX}-windres)
if(NOT VTR_MINGW_CXX OR NOT VTR_MINGW_RC)
  message(FATAL_ERROR "${VTR_MINGW_PREFIX} not found: apt-get install ${VTR_MINGW_PACKAGE}")
endif()

set(CMAKE_CXX_COMPILER ${VTR_MINGW_CXX})
if(VTR_MINGW_CC)
  set(CMAKE_C_COMPILER ${VTR_MINGW_CC})
endif()
set(CMAKE_RC_COMPILER ${VTR_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${VTR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The DLL and the test program carry their C++ runtime inside, so that
# installing the driver is copying one file.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs built for Windows run here under Wine (try_run, tests).
find_program(VTR_WINE NAMES ${VTR_MINGW_WINE})
if(VTR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VTR_WINE})
endif()
