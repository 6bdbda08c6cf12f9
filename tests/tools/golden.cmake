# Runs the quorvel tool once and compares its exit status, standard output and
# standard error with the expected ones.
#
#   cmake -DTOOL=... -DNAME=... -DARGS=a|b|c [-DSTDIN=file] [-DENV=VAR=x|--unset=VAR]
#         -DEXIT=n -DEXPECTED=dir [-DSCRUB=ON] -P golden.cmake
#
# The expected texts are EXPECTED/NAME.out and EXPECTED/NAME.err; a missing
# file expects nothing. SCRUB replaces the three random digits of token
# signatures by NNN in both. With QUORVEL_UPDATE_GOLDEN set in the
# environment the run writes the expected files instead of comparing them.
string(REPLACE "|" ";" args "${ARGS}")
string(REPLACE "|" ";" env "${ENV}")
set(input_args)
if(STDIN)
  set(input_args INPUT_FILE ${STDIN})
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=QUORVEL_TEST_SALT ${env} ${TOOL} ${args}
  ${input_args}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

function(scrub var)
  set(text "${${var}}")
  if(SCRUB)
    string(REGEX REPLACE "-[0-9][0-9][0-9]>" "-NNN>" text "${text}")
    string(REGEX REPLACE "where [0-9][0-9][0-9] is" "where NNN is" text "${text}")
  endif()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()
scrub(out)
scrub(err)

if(DEFINED ENV{QUORVEL_UPDATE_GOLDEN})
  foreach(stream out err)
    set(file "${EXPECTED}/${NAME}.${stream}")
    if("${${stream}}" STREQUAL "")
      file(REMOVE "${file}")
    else()
      file(WRITE "${file}" "${${stream}}")
    endif()
  endforeach()
  return()
endif()

set(failures "")
if(NOT "${status}" STREQUAL "${EXIT}")
  string(APPEND failures "exit status ${status}, expected ${EXIT}\n")
endif()
foreach(stream out err)
  set(file "${EXPECTED}/${NAME}.${stream}")
  set(expected "")
  if(EXISTS "${file}")
    file(READ "${file}" expected)
  endif()
  if(NOT "${${stream}}" STREQUAL "${expected}")
    string(APPEND failures
           "std${stream} differs from ${file}\n--- got:\n${${stream}}--- expected:\n${expected}---\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${NAME}:\n${failures}")
endif()
