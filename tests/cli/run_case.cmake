# Runs one golden case: copies the case folder to a fresh work folder, runs
# kelmem there with the arguments listed in `args` (one per line), and compares
# standard output byte for byte with `expected.out` and the exit status with
# `expected.status`.
#
# cmake -DKELMEM=<program> -DCASE_DIR=<case folder> -DWORK_DIR=<scratch> -P run_case.cmake
# A folder without those files (the examples) may name them instead:
# -DCASE_ARGS=<arguments, ;-separated> -DEXPECTED_OUT=<file> -DEXPECTED_STATUS=<n>.
# -DWRAPPER=<command, |-separated> runs the program under it (valgrind).
cmake_minimum_required(VERSION 3.16)

foreach(var KELMEM CASE_DIR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_case.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${CASE_DIR}/" DESTINATION "${WORK_DIR}")

set(case_args "${CASE_ARGS}")
if(NOT DEFINED CASE_ARGS AND EXISTS "${CASE_DIR}/args")
  file(STRINGS "${CASE_DIR}/args" case_args)
endif()
if(NOT DEFINED EXPECTED_OUT)
  set(EXPECTED_OUT "${CASE_DIR}/expected.out")
endif()
if(NOT DEFINED EXPECTED_STATUS)
  file(READ "${CASE_DIR}/expected.status" EXPECTED_STATUS)
endif()

string(REPLACE "|" ";" wrapper "${WRAPPER}")
execute_process(
  COMMAND ${wrapper} "${KELMEM}" ${case_args}
  WORKING_DIRECTORY "${WORK_DIR}"
  OUTPUT_FILE "${WORK_DIR}/actual.out"
  RESULT_VARIABLE status
  TIMEOUT 120)

string(STRIP "${EXPECTED_STATUS}" expected_status)
if(NOT "${status}" STREQUAL "${expected_status}")
  message(FATAL_ERROR "exit status ${status}, expected ${expected_status}")
endif()

execute_process(
  COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/actual.out" "${EXPECTED_OUT}"
  RESULT_VARIABLE differs)
if(differs)
  execute_process(COMMAND diff -u "${EXPECTED_OUT}" "${WORK_DIR}/actual.out")
  message(FATAL_ERROR "standard output differs from ${EXPECTED_OUT}")
endif()
