# Cross build for 64-bit Windows (x64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VTR_MINGW_PREFIX x86_64-w64-mingw32)
set(VTR_MINGW_PACKAGE g++-mingw-w64-x86-64)
set(VTR_MINGW_WINE wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
