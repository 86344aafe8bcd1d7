# The worker's shared library exports exactly the ostrel_worker_* calls of
# its header (EXPECTED), whatever else the toolchain adds to the dynamic
# table, and defines none of the core's names.
cmake_minimum_required(VERSION 3.25)
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIB}
  OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm -D ${LIB} failed")
endif()
string(REGEX MATCHALL "(^|\n)(ostrel|brisel|_Z)[^ \n]* [A-Za-z]" ours "${listing}")
list(TRANSFORM ours REPLACE "^\n?([^ ]+) .$" "\\1")
list(SORT ours)
file(STRINGS ${EXPECTED} expected REGEX "^[a-z_]")
list(SORT expected)
if(NOT ours STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  found: ${ours}\n  expected: ${expected}")
endif()
