# Compares the dynamic symbol table of the shared library with the expected
# external interface, and checks that the platform is left undefined.
find_program(NM nm REQUIRED)

execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIB}
  OUTPUT_VARIABLE defined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${defined}")
set(actual "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "^([^ ]+) ([A-Za-z])" m "${line}")
  if(NOT m)
    continue()
  endif()
  set(sym "${CMAKE_MATCH_1}")
  # Toolchain and loader symbols are not part of our interface.
  if(sym MATCHES "^(_init|_fini|_edata|_end|__bss_start|_ITM_|__gmon_start__|__cxa_|__asan|__odr_asan|__ubsan|__lsan|__sanitizer)")
    continue()
  endif()
  list(APPEND actual "${sym}")
endforeach()
list(SORT actual)

file(STRINGS ${EXPECTED} expected REGEX "^[a-z_A-Z]")
list(SORT expected)

set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
if(missing OR extra)
  message(FATAL_ERROR "exported symbols differ\n  missing: ${missing}\n  unexpected: ${extra}")
endif()

# Every platform call of the core library stays undefined in both builds.
file(STRINGS ${PLATFORM} platform REGEX "^[a-z_A-Z]")
foreach(lib ${LIB} ${STATIC_LIB})
  execute_process(COMMAND ${NM} --undefined-only --format=posix ${lib}
    OUTPUT_VARIABLE undefined)
  execute_process(COMMAND ${NM} --defined-only --format=posix ${lib}
    OUTPUT_VARIABLE defined_all)
  foreach(sym IN LISTS platform)
    if(NOT undefined MATCHES "(^|\n)${sym} ")
      message(FATAL_ERROR "${lib}: platform symbol ${sym} is not referenced as undefined")
    endif()
    if(defined_all MATCHES "(^|\n)${sym} ")
      message(FATAL_ERROR "${lib}: platform symbol ${sym} is defined inside the core library")
    endif()
  endforeach()
endforeach()
list(LENGTH actual n)
message(STATUS "${n} exported symbols match")
