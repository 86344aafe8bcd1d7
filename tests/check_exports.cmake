# Compares the dynamic symbol table of the shared library with the expected
# external interface, and checks that the platform is left undefined.
cmake_minimum_required(VERSION 3.25)
find_program(NM nm REQUIRED)

# Names defined in the output of nm --format=posix, one list entry each.
function(defined_names out)
  execute_process(COMMAND ${NM} ${ARGN} --defined-only --format=posix
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm ${ARGN} failed")
  endif()
  string(REGEX MATCHALL "(^|\n)[^ \n]+ [A-Za-z]" entries "${listing}")
  list(TRANSFORM entries REPLACE "^\n?([^ ]+) .$" "\\1")
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# A symbol is ours when one of our objects (the members of the static
# library) defines it; the rest of the dynamic table comes from the linker
# and the toolchain's runtimes (sanitizers included) and is only reported.
defined_names(dynamic -D ${LIB})
defined_names(ours ${STATIC_LIB})
list(REMOVE_DUPLICATES ours)
set(actual "")
set(toolchain "")
foreach(sym IN LISTS dynamic)
  if(sym IN_LIST ours)
    list(APPEND actual "${sym}")
  else()
    list(APPEND toolchain "${sym}")
  endif()
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
message(STATUS "${n} exported symbols match; from the toolchain: ${toolchain}")
