# Shared compile settings for every target of the project.
function(velantro_target_settings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                             -Wnon-virtual-dtor -Wconversion
                                             -Wno-sign-conversion)
    if(FATAL_WARNINGS)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(SANITIZE)
      target_compile_options(${target} PRIVATE -fsanitize=${SANITIZE}
                                               -fno-omit-frame-pointer)
      target_link_options(${target} PRIVATE -fsanitize=${SANITIZE})
    endif()
  endif()
endfunction()

# velantro_include_root(out_var folder) - the include folder of one src/
# folder (e.g. "skype", "platform/bus"): a folder in the build tree where
# "skype/SkypeControl.h" names src/skype/SkypeControl.h and nothing else of
# src/ is reachable. The headers are linked one by one, so a folder's
# subfolders (each a library of its own) stay out of its include folder.
function(velantro_include_root out_var folder)
  string(REPLACE "/" "_" id "${folder}")
  set(root ${CMAKE_BINARY_DIR}/include/${id})
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.h)
  file(MAKE_DIRECTORY ${root}/${folder})
  foreach(header ${headers})
    get_filename_component(file_name ${header} NAME)
    if(NOT IS_SYMLINK ${root}/${folder}/${file_name})
      file(CREATE_LINK ${header} ${root}/${folder}/${file_name} SYMBOLIC)
    endif()
  endforeach()
  set(${out_var} ${root} PARENT_SCOPE)
endfunction()

# velantro_library(name SOURCES ... [DEPS ...] [PRIVATE_DEPS ...]) - one static
# library of a src/ folder. It sees its own folder's headers and those of the
# libraries it links, nothing else, so an include that crosses the layers the
# wrong way does not compile; the targets that link it see its folder too.
function(velantro_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  velantro_include_root(root ${folder})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  velantro_target_settings(${name})
endfunction()

# velantro_program(name SOURCES ... [DEPS ...]) - an executable in build/bin.
function(velantro_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  velantro_target_settings(${name})
endfunction()

# velantro_add_test(name SOURCES ... [DEPS ...] [LABELS ...] [ON_PRIVATE_BUS]) -
# one GoogleTest program registered with ctest, run from build/bin so it finds
# the programs and the data file beside it. With ON_PRIVATE_BUS it runs on a
# private D-Bus session bus of its own (dbus-run-session), never on the user's.
function(velantro_add_test name)
  cmake_parse_arguments(ARG "ON_PRIVATE_BUS" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  velantro_target_settings(${name})
  set(command ${name})
  if(ARG_ON_PRIVATE_BUS)
    find_program(VELANTRO_DBUS_RUN_SESSION dbus-run-session REQUIRED)
    set(command ${VELANTRO_DBUS_RUN_SESSION} -- $<TARGET_FILE:${name}>)
  endif()
  add_test(NAME ${name} COMMAND ${command}
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()

# Includes every direct subfolder of the current folder that has a CMakeLists.txt.
macro(velantro_add_subfolders)
  file(GLOB _velantro_children LIST_DIRECTORIES true
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(_child ${_velantro_children})
    if(IS_DIRECTORY ${_child} AND EXISTS ${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endmacro()

