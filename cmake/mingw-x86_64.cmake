# 64-bit Windows (the `win64` preset).
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(RASTREL_PACKAGE_SUFFIX win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
