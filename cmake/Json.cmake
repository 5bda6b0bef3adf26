# JSON for the protocol's text messages and the catalogue's cache: Debian's
# header-only nlohmann-json3-dev. The cross build sees its folder alone, never
# the rest of the build machine's /usr/include.
find_path(CORVEL_JSON_HEADER_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(corvelJsonView "${CMAKE_BINARY_DIR}/json-include")
file(MAKE_DIRECTORY "${corvelJsonView}")
if(NOT EXISTS "${corvelJsonView}/nlohmann")
  file(CREATE_LINK "${CORVEL_JSON_HEADER_DIR}/nlohmann" "${corvelJsonView}/nlohmann" SYMBOLIC)
endif()
add_library(corvel_json INTERFACE)
target_include_directories(corvel_json SYSTEM INTERFACE "${corvelJsonView}")
