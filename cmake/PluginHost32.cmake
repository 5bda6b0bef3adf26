# The 32-bit plug-in process, corvel-plugin-host32.exe, that the 64-bit
# Windows program starts for 32-bit plug-ins: the same sources built by the
# i686 compiler in a sub-build (win32/ of this build folder), the executable
# put beside the program's. The sub-build's test plug-ins, the same ones
# built for 32 bits, are in win32/test-plugins.
option(CORVEL_HOST32 "Build the 32-bit plug-in process (needs g++-mingw-w64-i686-posix)" ON)
if(NOT CORVEL_HOST32)
  return()
endif()
find_program(CORVEL_I686_CXX i686-w64-mingw32-g++-posix)
if(NOT CORVEL_I686_CXX)
  message(FATAL_ERROR "The 32-bit plug-in process needs Debian's g++-mingw-w64-i686-posix "
                      "(or configure with -DCORVEL_HOST32=OFF)")
endif()

include(ExternalProject)
ExternalProject_Add(corvel_host32
  SOURCE_DIR "${PROJECT_SOURCE_DIR}"
  BINARY_DIR "${CMAKE_BINARY_DIR}/win32"
  CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake"
    "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
    "-DCORVEL_DEBUG_INFO=${CORVEL_DEBUG_INFO}"
    "-DCMAKE_UNITY_BUILD=${CMAKE_UNITY_BUILD}"
    # One copy of the server library's source serves both builds.
    "-DCORVEL_CIVETWEB_SOURCE_DIR=${CORVEL_CIVETWEB_SOURCE_DIR}"
    "-DCORVEL_PLUGIN_HOST_DIR=${CMAKE_BINARY_DIR}"
  # Only what a 32-bit plug-in needs: the plug-in process and the test plug-ins.
  BUILD_COMMAND "${CMAKE_COMMAND}" --build <BINARY_DIR> --target corvel-plugin-host test_plugins
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/corvel-plugin-host32.exe")
add_dependencies(corvel-vst-remote corvel_host32)
