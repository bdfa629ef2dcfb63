# 32-bit Windows (the `win32` preset).
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(RASTREL_PACKAGE_SUFFIX win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
