# Cross build for 32-bit Windows (x86): the module that 32-bit applications
# load, from SysWOW64 on 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VTR_MINGW_PREFIX i686-w64-mingw32)
set(VTR_MINGW_PACKAGE g++-mingw-w64-i686)
set(VTR_MINGW_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
