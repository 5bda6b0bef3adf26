# The built-in test page: the page and the client's modules from clients/js,
# compiled into the program at build time (nothing is read from disk at run time).
set(corvelClientDir "${PROJECT_SOURCE_DIR}/clients/js")
set(corvelPageManifest "${CMAKE_BINARY_DIR}/generated/test-page-files.txt")
set(corvelPageSource "${CMAKE_BINARY_DIR}/generated/EmbeddedFiles.cpp")
# URL path, kind, file.
set(corvelPageFiles
  "/ html ${corvelClientDir}/page/index.html"
  "/test-page.js js ${corvelClientDir}/page/test-page.js"
  "/round-trip-plot.js js ${corvelClientDir}/page/round-trip-plot.js"
  "/parameter-panel.js js ${corvelClientDir}/page/parameter-panel.js"
  "/move-recorder.js js ${corvelClientDir}/page/move-recorder.js"
  "/output-meters.js js ${corvelClientDir}/page/output-meters.js")
# The client's modules are the ones its package ships, so a new module is
# served as soon as it is packaged.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${corvelClientDir}/package.json")
file(READ "${corvelClientDir}/package.json" corvelPackage)
string(JSON corvelModuleCount LENGTH "${corvelPackage}" files)
math(EXPR corvelLastModule "${corvelModuleCount} - 1")
foreach(corvelModuleIndex RANGE ${corvelLastModule})
  string(JSON corvelModule GET "${corvelPackage}" files ${corvelModuleIndex})
  if(NOT corvelModule MATCHES "^[a-z-]+\\.js$")
    message(FATAL_ERROR "clients/js/package.json: ${corvelModule} is not a module the page can serve")
  endif()
  list(APPEND corvelPageFiles "/${corvelModule} js ${corvelClientDir}/${corvelModule}")
endforeach()

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
