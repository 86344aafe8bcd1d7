# Debian packages, one per install component:
#   libostrelapi1     the shared core library
#   libostrelapi-dev  everything to build against it, stand-ins included
#   ostrelapi-tools   aclctl and aclsvc-sim
set(CPACK_PACKAGE_NAME ostrelapi)
set(CPACK_PACKAGE_VENDOR "libostrelapi developers")
set(CPACK_PACKAGE_CONTACT "libostrelapi developers <ostrelapi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libostrelapi${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libostrelapi-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ostrelapi-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Client library for the switch ACL service (shared library)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Client library for the switch ACL service (headers, static library, stand-ins)")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "aclctl scenario runner and aclsvc-sim ACL service daemon")
include(CPack)
