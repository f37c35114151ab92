# Turns a program's --help and --version into its manual page with help2man,
# refuses a page that man reports warnings for, and compresses it as Debian
# installs manual pages.
#   cmake -DPROGRAM=path -DNAME=text -DOUTPUT=page.1.gz -P ManPage.cmake
foreach(var PROGRAM NAME OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ManPage.cmake needs -D${var}=...")
  endif()
endforeach()

string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
execute_process(
  COMMAND help2man --no-info --no-discard-stderr --section=1 "--name=${NAME}"
          "--output=${page}" "${PROGRAM}"
  RESULT_VARIABLE failed
  ERROR_VARIABLE errors)
if(failed)
  message(FATAL_ERROR "help2man could not make ${page} from ${PROGRAM}: ${errors}")
endif()

# The same check as lintian's: the page formatted for a terminal, every
# warning shown.
execute_process(
  COMMAND man --warnings -E UTF-8 -l -Tutf8 -Z "${page}"
  OUTPUT_QUIET
  RESULT_VARIABLE failed
  ERROR_VARIABLE warnings)
if(failed OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "man reports on ${page}:\n${warnings}")
endif()

execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not compress ${page}")
endif()
