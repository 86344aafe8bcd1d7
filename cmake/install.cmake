# Installs the library, its header, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS ostrelapi ostrelapi_static
  EXPORT ostrelapiTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ostrelapi.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ostrelapiTargets
  NAMESPACE ostrelapi::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ostrelapi)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ostrelapiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ostrelapiConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ostrelapi)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ostrelapiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ostrelapiConfig.cmake
              ${PROJECT_BINARY_DIR}/ostrelapiConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ostrelapi)

configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrelapi.pc.in
  ${PROJECT_BINARY_DIR}/ostrelapi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ostrelapi.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
