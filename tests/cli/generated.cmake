# Generated golden cases, too large to commit: the script is written at test
# time, run, and the output checked for its exact length and its last lines.
#
# cmake -DKELMEM=<program> -DWORK_DIR=<scratch> -DMODE=<million|cycles> -P generated.cmake
#   million: a load, then 999,998 stores, then END (1,000,000 lines).
#   cycles:  10,000 LoadFile/TerminateProcess pairs, then a process table.
#   bigline: one line of 1 MiB without white space, read in 159-character
#            pieces, each cut into tokens of 99 characters and the rest.
cmake_minimum_required(VERSION 3.16)

foreach(var KELMEM WORK_DIR MODE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "generated.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(WRITE "${WORK_DIR}/prog.txt" "8585\n2\n3 10\nRUN RUN HALT\n#1 #2 \"three\n")

# Bytes of the echoes "%4d <text>\n" of the lines first..last, all with the
# same text.
function(echo_bytes first last text out)
  string(LENGTH "${text}" text_len)
  set(total 0)
  set(lo ${first})
  foreach(bound 9999 99999 999999 9999999)
    string(LENGTH "${bound}" width)
    if(lo LESS_EQUAL last AND lo LESS_EQUAL bound)
      set(top ${bound})
      if(last LESS top)
        set(top ${last})
      endif()
      math(EXPR total "${total} + (${top} - ${lo} + 1) * (${width} + 2 + ${text_len})")
      math(EXPR lo "${top} + 1")
    endif()
  endforeach()
  set(${out} ${total} PARENT_SCOPE)
endfunction()

set(table_empty "+--------------------------------------------------\n| Process Table:\n|  PID #SEG SEG1 LEN1 SEG2 LEN2 SEG3 LEN3 SEG4 LEN4\n|  --- ---- ---- ---- ---- ---- ---- ---- ---- ----\n+--------------------------------------------------\n")

if(MODE STREQUAL "million")
  string(REPEAT "P1 STORE @5 #7\n" 999998 stores)
  file(WRITE "${WORK_DIR}/script.txt" "P1 LoadFile @0 \"prog.txt\n${stores}P0 END\n")
  echo_bytes(1 1 "P1 LoadFile @0 \"prog.txt" first)
  echo_bytes(2 999999 "P1 STORE @5 #7" middle)
  set(tail "1000000 P0 END\n******* ERROR: END command reached, parser stopped\n---------------Couldn't parse script.txt-----------------\n")
  string(LENGTH "${tail}" tail_len)
  math(EXPR expected_len "${first} + ${middle} + ${tail_len}")
elseif(MODE STREQUAL "cycles")
  string(REPEAT "P1 LoadFile @0 \"prog.txt\nP1 TerminateProcess\n" 10000 cycles)
  file(WRITE "${WORK_DIR}/script.txt" "${cycles}P0 PrintProcessTable\n")
  # Odd lines load, even lines terminate.
  echo_bytes(1 20000 "" expected_len)
  math(EXPR expected_len "${expected_len} + 10000 * (24 + 19)")
  set(tail "20001 P0 PrintProcessTable\n${table_empty}")
  string(LENGTH "${tail}" tail_len)
  math(EXPR expected_len "${expected_len} + ${tail_len}")
elseif(MODE STREQUAL "bigline")
  string(REPEAT "x" 1048576 line)
  file(WRITE "${WORK_DIR}/script.txt" "${line}\n")
  string(REPEAT "x" 99 x99)
  string(REPEAT "x" 60 x60)
  string(REPEAT "x" 31 x31)
  set(invalid "******* ERROR: Invalid syntax in processor input\n")
  # 6594 full pieces of 159 characters, then 130 characters and the line feed.
  echo_bytes(1 6594 "${x99} ${x60}" pieces)
  string(LENGTH "${invalid}" invalid_len)
  set(tail "6595 ${x99} ${x31}\n${invalid}")
  string(LENGTH "${tail}" tail_len)
  math(EXPR expected_len "${pieces} + 6594 * ${invalid_len} + ${tail_len}")
else()
  message(FATAL_ERROR "generated.cmake: unknown MODE ${MODE}")
endif()

execute_process(
  COMMAND "${KELMEM}" script.txt
  WORKING_DIRECTORY "${WORK_DIR}"
  OUTPUT_FILE "${WORK_DIR}/actual.out"
  RESULT_VARIABLE status
  TIMEOUT 600)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "exit status ${status}, expected 0")
endif()

file(SIZE "${WORK_DIR}/actual.out" actual_len)
if(NOT actual_len EQUAL expected_len)
  message(FATAL_ERROR "output is ${actual_len} bytes, expected ${expected_len}")
endif()
math(EXPR tail_at "${actual_len} - ${tail_len}")
file(READ "${WORK_DIR}/actual.out" actual_tail OFFSET ${tail_at})
if(NOT actual_tail STREQUAL tail)
  message(FATAL_ERROR "output ends with\n${actual_tail}\nexpected\n${tail}")
endif()
if(MODE STREQUAL "million")
  set(head "   1 P1 LoadFile @0 \"prog.txt\n   2 P1 STORE @5 #7\n   3 P1 STORE @5 #7\n")
elseif(MODE STREQUAL "cycles")
  set(head "   1 P1 LoadFile @0 \"prog.txt\n   2 P1 TerminateProcess\n   3 P1 LoadFile @0 \"prog.txt\n")
else()
  set(head "   1 ${x99} ${x60}\n${invalid}   2 ${x99} ${x60}\n${invalid}")
endif()
string(LENGTH "${head}" head_len)
file(READ "${WORK_DIR}/actual.out" actual_head LIMIT ${head_len})
if(NOT actual_head STREQUAL head)
  message(FATAL_ERROR "output begins with\n${actual_head}\nexpected\n${head}")
endif()
file(REMOVE "${WORK_DIR}/actual.out" "${WORK_DIR}/script.txt")
