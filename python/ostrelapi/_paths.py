"""Where the installed libraries and tools lie, relative to this package.

The source tree's copy knows nothing (the test run names the build tree's
directories in OSTRELAPI_LIBRARY_PATH and OSTRELAPI_ACLSVC_SIM); the
install writes its own copy with the relative paths of the prefix.
"""

LIBDIR_FROM_PACKAGE = ""
BINDIR_FROM_PACKAGE = ""
