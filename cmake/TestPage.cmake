# The built-in test page: the page and the client module from clients/js,
# compiled into the program at build time (nothing is read from disk at run time).
set(corvelClientDir "${PROJECT_SOURCE_DIR}/clients/js")
set(corvelPageManifest "${CMAKE_BINARY_DIR}/generated/test-page-files.txt")
set(corvelPageSource "${CMAKE_BINARY_DIR}/generated/EmbeddedFiles.cpp")
# URL path, kind, file.
set(corvelPageFiles
  "/ html ${corvelClientDir}/page/index.html"
  "/test-page.js js ${corvelClientDir}/page/test-page.js"
  "/round-trip-plot.js js ${corvelClientDir}/page/round-trip-plot.js"
  "/corvel-client.js js ${corvelClientDir}/corvel-client.js"
  "/corvel-audio-node.js js ${corvelClientDir}/corvel-audio-node.js"
  "/corvel-block-ring.js js ${corvelClientDir}/corvel-block-ring.js"
  "/corvel-node-worker.js js ${corvelClientDir}/corvel-node-worker.js"
  "/corvel-node-worklet.js js ${corvelClientDir}/corvel-node-worklet.js")

set(corvelPageInputs "")
set(manifestText "")
foreach(entry IN LISTS corvelPageFiles)
  string(REGEX REPLACE "^[^ ]+ [^ ]+ " "" file "${entry}")
  list(APPEND corvelPageInputs "${file}")
  string(APPEND manifestText "${entry}\n")
endforeach()
file(WRITE "${corvelPageManifest}.new" "${manifestText}")
configure_file("${corvelPageManifest}.new" "${corvelPageManifest}" COPYONLY)

add_custom_command(
  OUTPUT "${corvelPageSource}"
  COMMAND "${CMAKE_COMMAND}" -DMANIFEST=${corvelPageManifest} -DOUTPUT=${corvelPageSource}
          -P "${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake"
  DEPENDS ${corvelPageInputs} "${corvelPageManifest}" "${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake"
  COMMENT "Embedding the test page"
  VERBATIM)

target_sources(corvel_websocket PRIVATE "${PROJECT_SOURCE_DIR}/src/websocket/TestPage.cpp" "${corvelPageSource}")
