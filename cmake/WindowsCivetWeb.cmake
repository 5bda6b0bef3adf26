# The server library for the Windows build: compiled from Debian's civetweb
# source package, unpacked into the build tree at configure time.
set(CORVEL_CIVETWEB_SOURCE_DIR "${CMAKE_BINARY_DIR}/_deps/civetweb" CACHE PATH
    "Unpacked civetweb source (fetched from Debian's source package when missing)")

if(NOT EXISTS "${CORVEL_CIVETWEB_SOURCE_DIR}/src/civetweb.c")
  message(STATUS "Fetching civetweb's Debian source package")
  execute_process(
    COMMAND sh "${CMAKE_SOURCE_DIR}/scripts/fetch-civetweb-source.sh" "${CORVEL_CIVETWEB_SOURCE_DIR}"
    RESULT_VARIABLE fetchResult)
  if(NOT fetchResult EQUAL 0)
    message(FATAL_ERROR "Could not fetch civetweb's source (scripts/fetch-civetweb-source.sh)")
  endif()
endif()

# civetweb.c is compiled through LibrarySocket.c, which adds the one
# accessor the program needs: a connection's socket, to read its frames.
add_library(corvel_civetweb STATIC
  "${PROJECT_SOURCE_DIR}/src/websocket/win32/LibrarySocket.c"
  "${CORVEL_CIVETWEB_SOURCE_DIR}/src/CivetServer.cpp")
target_include_directories(corvel_civetweb SYSTEM PUBLIC "${CORVEL_CIVETWEB_SOURCE_DIR}/include")
target_include_directories(corvel_civetweb PRIVATE "${CORVEL_CIVETWEB_SOURCE_DIR}/src")
# Only the WebSocket endpoint is served: no TLS (nothing to load at run time),
# no CGI. File serving stays compiled in as in Debian's Linux library; with
# no document root it serves nothing.
target_compile_definitions(corvel_civetweb PRIVATE NO_SSL NO_CGI USE_WEBSOCKET)
# Third-party code: its warnings are not ours to fix.
target_compile_options(corvel_civetweb PRIVATE -w)
target_link_libraries(corvel_civetweb PUBLIC ws2_32 Threads::Threads)
set(CORVEL_CIVETWEB corvel_civetweb)
