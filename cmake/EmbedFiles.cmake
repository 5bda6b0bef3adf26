# Turns files into a C++ table of byte arrays (see src/websocket/EmbeddedFiles.h).
# Script mode: cmake -DMANIFEST=<file> -DOUTPUT=<file.cpp> -P EmbedFiles.cmake
# Each manifest line: <url path> <kind: html or js> <file>.

file(STRINGS "${MANIFEST}" entries)
set(arrays "")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^([^ ]+) ([^ ]+) (.+)$" matched "${entry}")
  if(NOT matched)
    message(FATAL_ERROR "bad manifest line: ${entry}")
  endif()
  set(urlPath "${CMAKE_MATCH_1}")
  if(CMAKE_MATCH_2 STREQUAL "html")
    set(contentType "text/html; charset=utf-8")
  elseif(CMAKE_MATCH_2 STREQUAL "js")
    set(contentType "text/javascript; charset=utf-8")
  else()
    message(FATAL_ERROR "unknown kind of file: ${entry}")
  endif()
  set(source "${CMAKE_MATCH_3}")
  file(READ "${source}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # A trailing 0 keeps the array from being empty.
  string(APPEND arrays "const unsigned char file${index}[] = {\n    ${bytes}0};\n\n")
  string(APPEND table "    {\"${urlPath}\", \"${contentType}\", file${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}"
"// Generated at build time by cmake/EmbedFiles.cmake from clients/js.
#include \"websocket/EmbeddedFiles.h\"

namespace {

${arrays}}  // namespace

const EmbeddedFile embeddedFiles[] = {
${table}};

const std::size_t embeddedFileCount = ${index};
")
