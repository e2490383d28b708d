# Packages made by `cpack` in the build folder.  On Linux, one Debian package
# per install component: libvedodiroz1 (the shared library), libvedodiroz-dev
# (header, static library, CMake and pkg-config files, section-3 pages) and
# vedodiroz-tools (the programs and their section-1 pages); libvedodiroz-cil
# joins them when the .NET assembly is built.  On Windows, a zip (DLL, import
# and static library, header, naxctl.exe, docs, licence).
set(CPACK_PACKAGE_NAME vedodiroz)
set(CPACK_PACKAGE_VENDOR "vedodiroz")
set(CPACK_PACKAGE_CONTACT "vedodiroz developers <maintainers@vedodiroz.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "host-side communication library for access-control and time-and-attendance nodes")
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME vedodiroz-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vedodiroz.localhost/")
# Dependencies (libc, libstdc++, libgcc) as dpkg-shlibdeps finds them in the
# binaries; the packages among themselves depend on the exact same version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)

# A Debian description: the synopsis, then lines of at most 80 characters.
set(NAX_ABOUT "vedodiroz talks to access-control and time-and-attendance terminals
(nodes) over TCP and serial links, in both of the nodes' packet protocols, and
calls the host back with the events the nodes report.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvedodiroz1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file and an ldconfig trigger for the package holding the shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${PROJECT_BINARY_DIR}/deb/runtime/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/runtime/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "host library for access-control and attendance nodes
${NAX_ABOUT}
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvedodiroz-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "host library for attendance nodes - development files
${NAX_ABOUT}
.
This package holds the C header, the static library, the CMake and pkg-config
files and the manual pages of the functions.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME vedodiroz-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "host library for attendance nodes - tools
${NAX_ABOUT}
.
This package holds naxctl, the operators' command-line tool, naxsim, a node
simulator, and naxgw, a gateway between nodes, MQTT and SQLite.")

set(CPACK_COMPONENTS_ALL runtime development tools)
if(NAX_HAVE_DOTNET)
  # The .NET assembly, over the shared library and Mono.
  list(APPEND CPACK_COMPONENTS_ALL cil)
  set(CPACK_DEBIAN_CIL_PACKAGE_NAME libvedodiroz-cil)
  set(CPACK_DEBIAN_CIL_PACKAGE_SECTION cli-mono)
  set(CPACK_DEBIAN_CIL_PACKAGE_ARCHITECTURE all)
  set(CPACK_COMPONENT_CIL_DEPENDS runtime)
  set(CPACK_DEBIAN_CIL_PACKAGE_DEPENDS mono-runtime)
  set(CPACK_DEBIAN_CIL_DESCRIPTION "host library for attendance nodes - .NET binding
${NAX_ABOUT}
.
This package holds the .NET assembly.")
endif()
include(CPack)
