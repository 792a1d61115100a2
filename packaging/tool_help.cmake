# run_help(OUT ARGS...): runs "${TOOL} ARGS..." and puts what it printed in OUT. A help that fails or prints
# nothing stops the script with an error naming it, and so fails the build: what is generated from a tool's
# help never silently lacks a part. Included by the generators of the manual page and the shell completion.
function(run_help out)
  execute_process(COMMAND ${TOOL} ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE status)
  string(REPLACE ";" " " shown "${ARGN}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "\"${NAME} ${shown}\" failed (exit status ${status}): ${error}")
  endif()
  if(text STREQUAL "")
    message(FATAL_ERROR "\"${NAME} ${shown}\" printed no help")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
