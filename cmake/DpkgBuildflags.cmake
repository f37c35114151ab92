# Debian's build flags, as dpkg-buildflags gives them with every hardening
# feature on (DEB_BUILD_MAINT_OPTIONS=hardening=+all): fortified libc calls,
# the stack protector, format checks, relro and immediate binding. Every
# target gets them, so the tests run the code the package ships. The build
# type keeps choosing the optimisation and the debugging information.
find_program(VELANTRO_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT VELANTRO_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: building without Debian's hardening flags")
  return()
endif()
# Fortification needs optimisation; without it glibc warns on every file.
if(NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  message(STATUS "Build type '${CMAKE_BUILD_TYPE}' does not optimise: no hardening flags")
  return()
endif()

function(velantro_dpkg_buildflags out_var name)
  # Run from the sources, so that -ffile-prefix-map makes the recorded paths
  # relative to them.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${VELANTRO_DPKG_BUILDFLAGS} --get ${name}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-O|^-g$")
  set(${out_var} ${flags} PARENT_SCOPE)
endfunction()

velantro_dpkg_buildflags(cppflags CPPFLAGS)
velantro_dpkg_buildflags(cxxflags CXXFLAGS)
velantro_dpkg_buildflags(ldflags LDFLAGS)
add_compile_options(${cppflags} ${cxxflags})
add_link_options(${ldflags})
message(STATUS "Debian's hardening flags: ${cppflags} ${cxxflags} ${ldflags}")
