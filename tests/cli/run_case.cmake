# Runs one golden case: copies the case folder to a fresh work folder, runs
# kelmem there with the arguments listed in `args` (one per line), and compares
# standard output byte for byte with `expected.out` and the exit status with
# `expected.status`.
#
# cmake -DKELMEM=<program> -DCASE_DIR=<case folder> -DWORK_DIR=<scratch> -P run_case.cmake
foreach(var KELMEM CASE_DIR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_case.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${CASE_DIR}/" DESTINATION "${WORK_DIR}")

set(case_args "")
if(EXISTS "${CASE_DIR}/args")
  file(STRINGS "${CASE_DIR}/args" case_args)
endif()

execute_process(
  COMMAND "${KELMEM}" ${case_args}
  WORKING_DIRECTORY "${WORK_DIR}"
  OUTPUT_FILE "${WORK_DIR}/actual.out"
  RESULT_VARIABLE status
  TIMEOUT 120)

file(READ "${CASE_DIR}/expected.status" expected_status)
string(STRIP "${expected_status}" expected_status)
if(NOT "${status}" STREQUAL "${expected_status}")
  message(FATAL_ERROR "exit status ${status}, expected ${expected_status}")
endif()

execute_process(
  COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/actual.out" "${CASE_DIR}/expected.out"
  RESULT_VARIABLE differs)
if(differs)
  execute_process(COMMAND diff -u "${CASE_DIR}/expected.out" "${WORK_DIR}/actual.out")
  message(FATAL_ERROR "standard output differs from expected.out")
endif()
