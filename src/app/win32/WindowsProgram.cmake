# The Windows program: corvel-vst-remote.exe, a GUI-subsystem tray program.
set(CORVEL_APP_WIN32_DIR "${CMAKE_CURRENT_LIST_DIR}")
# The resources (icons, About box, manifest) serve both executables' windows.
set(CORVEL_WIN32_DIR "${PROJECT_SOURCE_DIR}/src/shell/win32")
set(CORVEL_ICON_DIR "${CMAKE_BINARY_DIR}/icons")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(corvelIcons "${CORVEL_ICON_DIR}/corvel-app.ico" "${CORVEL_ICON_DIR}/corvel-tray.ico")
add_custom_command(
  OUTPUT ${corvelIcons}
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CORVEL_ICON_DIR}"
  COMMAND Python3::Interpreter "${CMAKE_SOURCE_DIR}/scripts/make-icon.py" app "${CORVEL_ICON_DIR}/corvel-app.ico"
  COMMAND Python3::Interpreter "${CMAKE_SOURCE_DIR}/scripts/make-icon.py" tray "${CORVEL_ICON_DIR}/corvel-tray.ico"
  DEPENDS "${CMAKE_SOURCE_DIR}/scripts/make-icon.py"
  COMMENT "Drawing the program's icons"
  VERBATIM)
add_custom_target(corvel_icons DEPENDS ${corvelIcons})

add_executable(corvel-vst-remote WIN32
  "${CORVEL_APP_WIN32_DIR}/WinMain.cpp"
  "${CORVEL_APP_WIN32_DIR}/MainWindow.cpp"
  "${PROJECT_SOURCE_DIR}/src/app/Startup.cpp"
  "${CORVEL_WIN32_DIR}/corvel-vst-remote.rc")
corvel_program_view(corvel-vst-remote app DEPENDS host)
set_source_files_properties("${CORVEL_WIN32_DIR}/corvel-vst-remote.rc" PROPERTIES
  OBJECT_DEPENDS "${corvelIcons};${CORVEL_WIN32_DIR}/corvel-vst-remote.manifest;${CORVEL_WIN32_DIR}/resource.h;${CORVEL_GENERATED_DIR}/Version.h")
# The resource compiler finds resource.h, Version.h, the manifest and the icons here.
target_include_directories(corvel-vst-remote PRIVATE "${CORVEL_WIN32_DIR}" "${CORVEL_ICON_DIR}"
                           "${CORVEL_GENERATED_DIR}")
# wWinMain entry, no console window.
target_link_options(corvel-vst-remote PRIVATE -municode -mwindows)
target_link_libraries(corvel-vst-remote PRIVATE user32 shell32 gdi32)

# The plug-in process shares the program's resources, so editor frames keep
# the program's icon.
target_sources(corvel-plugin-host PRIVATE "${CORVEL_WIN32_DIR}/corvel-vst-remote.rc")
target_include_directories(corvel-plugin-host PRIVATE "${CORVEL_WIN32_DIR}" "${CORVEL_ICON_DIR}")
# The resource's dependencies above are seen only by targets of this folder.
add_dependencies(corvel-plugin-host corvel_icons)
add_dependencies(corvel-vst-remote corvel-plugin-host)

# The checks that run the program under Wine, and the test plug-ins as DLLs.
if(NOT CORVEL_BUILD_TESTS AND EXISTS "${CMAKE_SOURCE_DIR}/tests/plugins/CMakeLists.txt")
  add_subdirectory("${CMAKE_SOURCE_DIR}/tests/plugins" "${CMAKE_BINARY_DIR}/tests/plugins")
endif()

# The 32-bit plug-in process, from a 32-bit sub-build of these sources;
# before the checks, which use it where it is built.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  include("${PROJECT_SOURCE_DIR}/cmake/PluginHost32.cmake")
endif()
add_subdirectory("${CMAKE_SOURCE_DIR}/tests/windows" "${CMAKE_BINARY_DIR}/tests/windows")
