# Runs a validator and fails on its errors and on its warnings, which most
# validators report with a successful exit status. Hints and pedantic notes
# are shown but pass.
#   cmake -DCOMMAND=program "-DARGS=arg;arg" -P Validate.cmake
execute_process(COMMAND ${COMMAND} ${ARGS}
                RESULT_VARIABLE status
                OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
message("${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${COMMAND} failed with ${status}")
endif()
# desktop-file-validate writes "FILE: warning: ...", appstreamcli "W: ...".
if(out MATCHES "(^|\n)[WE]: |: (warning|error): ")
  message(FATAL_ERROR "${COMMAND} reports warnings or errors")
endif()
