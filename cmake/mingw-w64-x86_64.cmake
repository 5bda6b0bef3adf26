# Cross-compiling the Windows program on Debian with mingw-w64.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The 32-bit plug-in process is built by a sub-build with
# mingw-w64-i686.cmake (cmake/PluginHost32.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CORVEL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
