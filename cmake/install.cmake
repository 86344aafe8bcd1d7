# Installs what a downstream project needs, in three components:
#   runtime      the shared core library and the worker library
#   development  headers (core, C++ view, platform interface), the static
#                core, our stand-ins, the CMake package, pkg-config modules
#                and the documents
#   tools        aclctl and aclsvc-sim, their man pages, reference, example
#                scenario and Wireshark dissector
# The Debian packages are built from debian/ (docs/packaging.md).
include(CMakePackageConfigHelpers)

set(ostrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ostrelapi)
set(ostrel_platform_include ${CMAKE_INSTALL_INCLUDEDIR}/ostrelapi/platform)

install(TARGETS ostrelapi ostrelapi_worker EXPORT ostrelapiTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT development)
install(TARGETS ostrelapi_static ostrel_sim_shared ostrel_tlvu_shared ostrel_socket_shared
  EXPORT ostrelapiTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT ostrelapiTargets NAMESPACE ostrelapi::
  DESTINATION ${ostrel_cmake_dir} COMPONENT development)

install(FILES ${PROJECT_SOURCE_DIR}/include/ostrelapi.h
              ${PROJECT_SOURCE_DIR}/include/ostrelapi.hpp
              ${PROJECT_BINARY_DIR}/include/ostrelapi_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/ostrelapi/worker.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrelapi COMPONENT development)
file(GLOB ostrel_platform_headers_installed
     ${PROJECT_SOURCE_DIR}/include/ostrelapi/platform/*.h
     ${PROJECT_SOURCE_DIR}/include/ostrelapi/platform/*.hpp)
install(FILES ${ostrel_platform_headers_installed}
  DESTINATION ${ostrel_platform_include} COMPONENT development)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ostrelapiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ostrelapiConfig.cmake INSTALL_DESTINATION ${ostrel_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ostrelapiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ostrelapiConfig.cmake
              ${PROJECT_BINARY_DIR}/ostrelapiConfigVersion.cmake
  DESTINATION ${ostrel_cmake_dir} COMPONENT development)

# pkg-config modules find their prefix from where they lie, so an install
# tree can be moved. ostrel_pc(<module> <description> <libs> <requires>
# <libs.private>)
file(RELATIVE_PATH ostrel_pc_to_prefix
     /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ostrel_pc_to_prefix "${ostrel_pc_to_prefix}")
function(ostrel_pc module description libs requires libs_private)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrelapi.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/${module}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${module}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endfunction()
ostrel_pc(ostrelapi "${PROJECT_DESCRIPTION}" -lostrelapi "" "")
# The static core, named by file so that the shared library beside it is not
# taken instead; it is C++ inside and needs the C++ runtime.
ostrel_pc(ostrelapi-static "${PROJECT_DESCRIPTION} (static library)"
          "-l:libostrelapi.a -lstdc++" "" "")
# The worker library, on the shared core (its thread comes from libc).
ostrel_pc(ostrelapi-worker "Worker thread for libostrelapi: ACL programming that never blocks the caller"
          -lostrelapi-worker ostrelapi "")
# A stand-in satisfies only the core's references, never the program's own:
# --as-needed must not drop it whatever the order of the modules (one word
# per module, as pkg-config drops repeated words). It requires no core
# module: the program names the one it links, shared or static.
foreach(stand_in sim tlvu socket)
  set(ostrel_${stand_in}_libs
      "-Wl,--push-state,--no-as-needed,-lostrel_${stand_in},--pop-state")
endforeach()
ostrel_pc(ostrelapi-sim "Simulated switch platform for libostrelapi"
          "${ostrel_sim_libs}" "" "")
ostrel_pc(ostrelapi-tlvu "TLV utility library for libostrelapi"
          "${ostrel_tlvu_libs}" "" "")
ostrel_pc(ostrelapi-socket "Socket message transport for libostrelapi"
          "${ostrel_socket_libs}" "" "")

if(TARGET aclctl AND TARGET aclsvc-sim)
  install(TARGETS aclctl aclsvc-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT tools)
endif()

# Documents: a README written for the install (the source tree's names
# places that are not installed) and the design notes; with the tools,
# their reference, the glossary of the words they print and the example
# scenario.
configure_file(${PROJECT_SOURCE_DIR}/cmake/README.installed.md.in
               ${PROJECT_BINARY_DIR}/README.installed.md @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/README.installed.md RENAME README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/docs/design.md
              ${PROJECT_SOURCE_DIR}/docs/tlv-wire-format.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/tools/README.md RENAME tools.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/docs/glossary.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools)
