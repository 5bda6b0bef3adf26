# The program's folders as layers. corvel_layer(<folder> [DEPENDS <folder>...]
# [SOURCES ...] [LIBRARIES ...]) builds the static library corvel_<folder>. It
# compiles against a view of src/ that holds only its own folder and the
# folders of the layers below it, so an include that runs back up a layer
# does not compile, and its library links only the layers below it.
function(corvel_layer_view folder out)
  cmake_parse_arguments(L "" "" "DEPENDS" ${ARGN})
  set(visible ${folder})
  foreach(below IN LISTS L_DEPENDS)
    get_property(belowView GLOBAL PROPERTY corvel_layer_view_${below})
    if(NOT belowView)
      message(FATAL_ERROR "layer ${folder} depends on ${below}, which is not defined before it")
    endif()
    list(APPEND visible ${belowView})
  endforeach()
  list(REMOVE_DUPLICATES visible)
  set_property(GLOBAL PROPERTY corvel_layer_view_${folder} ${visible})
  set(view "${CMAKE_BINARY_DIR}/layers/${folder}")
  file(REMOVE_RECURSE "${view}")
  file(MAKE_DIRECTORY "${view}")
  foreach(name IN LISTS visible)
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${name}" "${view}/${name}" SYMBOLIC)
  endforeach()
  set(${out} "${view}" PARENT_SCOPE)
endfunction()

function(corvel_layer folder)
  cmake_parse_arguments(L "" "" "DEPENDS;SOURCES;LIBRARIES" ${ARGN})
  corvel_layer_view(${folder} view DEPENDS ${L_DEPENDS})
  set(target corvel_${folder})
  add_library(${target} STATIC ${L_SOURCES})
  target_include_directories(${target} PUBLIC "${view}" "${CORVEL_GENERATED_DIR}")
  list(TRANSFORM L_DEPENDS PREPEND corvel_)
  target_link_libraries(${target} PUBLIC ${L_DEPENDS} ${L_LIBRARIES})
endfunction()

# corvel_program(<target> <folder> DEPENDS <folder>... SOURCES ...): an
# executable at the top, with a view of its own folder and those below.
function(corvel_program_view target folder)
  cmake_parse_arguments(L "" "" "DEPENDS" ${ARGN})
  corvel_layer_view(${folder} view DEPENDS ${L_DEPENDS})
  target_include_directories(${target} PRIVATE "${view}" "${CORVEL_GENERATED_DIR}")
  list(TRANSFORM L_DEPENDS PREPEND corvel_)
  target_link_libraries(${target} PRIVATE ${L_DEPENDS})
endfunction()
