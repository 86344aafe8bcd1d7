# Compares the dynamic symbol table of the shared library with the expected
# external interface, checks that the platform is left undefined, and that
# the static archives (core and stand-ins) define only the library's names.
cmake_minimum_required(VERSION 3.25)
find_program(NM nm REQUIRED)

# Names defined in the output of nm --format=posix, one list entry each,
# of the symbol types in `types` (a regex character class).
function(defined_names out types)
  execute_process(COMMAND ${NM} ${ARGN} --defined-only --format=posix
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm ${ARGN} failed")
  endif()
  string(REGEX MATCHALL "(^|\n)[^ \n]+ [${types}]" entries "${listing}")
  list(TRANSFORM entries REPLACE "^\n?([^ ]+) .$" "\\1")
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# A symbol is ours when one of our objects (the members of the static
# library) defines it; the rest of the dynamic table comes from the linker
# and the toolchain's runtimes (sanitizers included) and is only reported.
defined_names(dynamic "A-Za-z" -D ${LIB})
defined_names(ours "A-Za-z" ${STATIC_LIB})
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

# Every strong global definition of the static archives is one of the
# library's names: a name of the external interface (for the stand-ins: of
# the platform interface they implement), a name under one of the
# library's prefixes, or a C++ name in namespace ostrel. Weak definitions
# (inline functions, template instances) are merged by the linker and are
# left out.
function(strong_globals out file)
  defined_names(entries "ABCDGRST" -g ${file})
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# Mangled C++ names whose outermost scope is namespace ostrel: functions,
# variables and local statics, and their vtables, typeinfo, guards and
# thread-local wrappers.
set(ostrel_cxx "^_Z(T[A-Z]|GV)?Z?N[KVrRO]*6ostrel")
set(core_prefixes "ostrel_|brisel_")
set(platform_prefixes
  "${core_prefixes}|yarl_|tlvu_|tlv_|heartbeat_|__wrap_|if_index_get_type$|port_channel_info_get$")

# Appends to `report` the names of `file` that are none of those.
function(check_archive file names prefixes)
  strong_globals(defined ${file})
  set(stray "")
  foreach(sym IN LISTS defined)
    # AddressSanitizer's one-definition indicator of a global is judged as
    # the global itself.
    string(REGEX REPLACE "^__odr_asan(\\.|_gen_)" "" sym "${sym}")
    # The i386 compiler's position-independent-code helpers: hidden, and
    # one identical copy per object in a COMDAT group, so they never clash.
    if(sym MATCHES "^__x86\\.get_pc_thunk\\.")
      continue()
    endif()
    if(NOT sym IN_LIST names AND NOT sym MATCHES "^(${prefixes})"
       AND NOT sym MATCHES "${ostrel_cxx}")
      list(APPEND stray "${sym}")
    endif()
  endforeach()
  if(stray)
    list(REMOVE_DUPLICATES stray)
    if(CXXFILT)
      execute_process(COMMAND ${CXXFILT} ${stray} OUTPUT_VARIABLE stray)
    endif()
    set(report "${report}${file}:\n${stray}\n" PARENT_SCOPE)
  endif()
endfunction()

find_program(CXXFILT c++filt)
set(report "")
check_archive(${STATIC_LIB} "${expected}" "${core_prefixes}")
string(REPLACE "|" ";" stand_ins "${STAND_INS}")
foreach(archive IN LISTS stand_ins)
  check_archive(${archive} "${platform}" "${platform_prefixes}")
endforeach()
if(report)
  message(NOTICE "${report}")
  message(FATAL_ERROR "the archives above define names outside the library's")
endif()

list(LENGTH actual n)
message(STATUS "${n} exported symbols match; from the toolchain: ${toolchain}")
