# The 32-bit Windows build with mingw-w64: the 64-bit build runs it as a
# sub-build for the 32-bit plug-in process and test plug-ins
# (cmake/PluginHost32.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CORVEL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
