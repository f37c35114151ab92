# Fails unless every compilation in the build's compile_commands.json has
# Debian's hardening flags, and names the first one that has not.
#   cmake -DCOMMANDS=build/compile_commands.json "-DFLAGS=-D_FORTIFY_SOURCE=2;..." -P CheckBuildflags.cmake
file(READ ${COMMANDS} json)
string(JSON count LENGTH "${json}")
math(EXPR last "${count} - 1")
set(checked 0)
foreach(index RANGE ${last})
  string(JSON command GET "${json}" ${index} command)
  string(JSON source GET "${json}" ${index} file)
  # The Windows cross build and the tests' own helpers built by other
  # projects are not in the package.
  if(source MATCHES "/build[^/]*/")
    continue()
  endif()
  foreach(flag ${FLAGS})
    string(FIND "${command}" " ${flag}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${source} is compiled without ${flag}:\n${command}")
    endif()
  endforeach()
  math(EXPR checked "${checked} + 1")
endforeach()
message("${checked} compilations have ${FLAGS}")
