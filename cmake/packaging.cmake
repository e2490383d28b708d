# Packages made by `cpack` in the build folder: a Debian package (libvedodiroz:
# library, header, CMake package, pkg-config file, tools, manual pages, docs)
# on Linux, a zip (DLL, import and static library, header, naxctl.exe, docs)
# for Windows.
set(CPACK_PACKAGE_NAME libvedodiroz)
set(CPACK_PACKAGE_VENDOR "vedodiroz")
set(CPACK_PACKAGE_CONTACT "vedodiroz developers <vedodiroz@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "host-side communication library for access-control and time-and-attendance nodes")
set(CPACK_PACKAGE_DESCRIPTION
    "A C library (shared and static) that talks to access-control and time-and-attendance \
terminals over TCP and serial links, with the node simulator naxsim and the operators' tool \
naxctl.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME vedodiroz-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Dependencies (libc, libstdc++, libgcc) as dpkg-shlibdeps finds them in the binaries,
  # and a shlibs file plus an ldconfig trigger for the shared library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
endif()
include(CPack)
