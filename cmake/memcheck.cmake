# ctest script: runs an already built test suite under valgrind's memcheck
# and fails on any memory error or definite/indirect leak.
#
#   ctest -DOSTREL_MEMCHECK_BUILD=<build dir> -S cmake/memcheck.cmake
#
# The build directory must hold a configured and built non-sanitized tree
# (valgrind cannot run sanitized binaries); build/default is the default.
# The exported_symbols tests (core and worker) run cmake itself, not our
# code, and are left out,
# as are tools_cli, doc_blocks and python_* (they run the Python interpreter). valgrind follows the
# processes a test starts (aclctl and aclsvc-sim under tools_test): an error
# in one makes it exit with status 1, which fails the test that started it.
cmake_minimum_required(VERSION 3.25)

get_filename_component(CTEST_SOURCE_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT OSTREL_MEMCHECK_BUILD)
  set(OSTREL_MEMCHECK_BUILD "${CTEST_SOURCE_DIRECTORY}/build/default")
endif()
get_filename_component(CTEST_BINARY_DIRECTORY "${OSTREL_MEMCHECK_BUILD}" ABSOLUTE)
if(NOT EXISTS "${CTEST_BINARY_DIRECTORY}/CTestTestfile.cmake")
  message(FATAL_ERROR "no built test suite in ${CTEST_BINARY_DIRECTORY}")
endif()

find_program(CTEST_MEMORYCHECK_COMMAND valgrind REQUIRED)
set(CTEST_MEMORYCHECK_TYPE Valgrind)
set(CTEST_MEMORYCHECK_COMMAND_OPTIONS
    "--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect --trace-children=yes --trace-children-skip=*python*,*cmake,*ctest")
set(CTEST_MEMORYCHECK_SUPPRESSIONS_FILE "${CMAKE_CURRENT_LIST_DIR}/valgrind.supp")
set(CTEST_SITE local)
set(CTEST_BUILD_NAME memcheck)

# The process tests' time limits, 20 times longer under valgrind.
set(ENV{OSTREL_TEST_TIME_SCALE} 20)

ctest_start(Experimental)
ctest_memcheck(RETURN_VALUE failed_tests DEFECT_COUNT defects
               EXCLUDE "^(exported_symbols|worker_exported_symbols|tools_cli|doc_blocks|python_sim|python_socket|python_sim_ctypes)$" PARALLEL_LEVEL 2)

message("memcheck: ${defects} defect(s) found by valgrind")
if(NOT failed_tests EQUAL 0 OR NOT defects EQUAL 0)
  message(FATAL_ERROR "memcheck failed: ${defects} defect(s), test failures: ${failed_tests}")
endif()
