# Debian's libcivetweb-dev ships a package config whose targets also name the
# server binary of another package, and loading it fails hard unless that
# package is installed. Find the two libraries directly instead.

find_path(CIVETWEB_INCLUDE_DIR CivetServer.h REQUIRED)
find_library(CIVETWEB_LIBRARY civetweb REQUIRED)
find_library(CIVETWEB_CPP_LIBRARY civetweb-cpp REQUIRED)
add_library(corvel_civetweb INTERFACE)
target_include_directories(corvel_civetweb INTERFACE ${CIVETWEB_INCLUDE_DIR})
target_compile_definitions(corvel_civetweb INTERFACE CIVETWEB_CXX_DLL_IMPORTS CIVETWEB_DLL_IMPORTS)
target_link_libraries(corvel_civetweb INTERFACE ${CIVETWEB_CPP_LIBRARY} ${CIVETWEB_LIBRARY})
set(CORVEL_CIVETWEB corvel_civetweb)
