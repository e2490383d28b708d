# Install rules: the shared and static library with the header, a CMake package
# (find_package(vedodiroz CONFIG) gives vedodiroz::vedodiroz and
# vedodiroz::static), vedodiroz.pc for pkg-config, the tools, the man pages and
# the docs, all in the GNU install directories.  Every rule names the component
# (and so the Debian package) it belongs to: runtime (the shared library),
# development (header, static library, CMake and pkg-config files, section-3
# pages) and tools (the programs and their section-1 pages).
include(CMakePackageConfigHelpers)

set(NAX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vedodiroz)

install(TARGETS vedodiroz vedodiroz_static
        EXPORT vedodirozTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/vedodiroz.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)

install(EXPORT vedodirozTargets NAMESPACE vedodiroz:: DESTINATION ${NAX_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vedodiroz-config.cmake.in
                              ${PROJECT_BINARY_DIR}/vedodiroz-config.cmake
                              INSTALL_DESTINATION ${NAX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vedodiroz-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vedodiroz-config.cmake
              ${PROJECT_BINARY_DIR}/vedodiroz-config-version.cmake
        DESTINATION ${NAX_CMAKE_DIR} COMPONENT development)

# The .pc file is written when installing, with the prefix installed into, so
# that pkg-config gives plain paths (none at all for /usr, which it leaves out).
set(NAX_PREFIX "@NAX_PREFIX@")  # kept for the install step
configure_file(${CMAKE_CURRENT_LIST_DIR}/vedodiroz.pc.in ${PROJECT_BINARY_DIR}/vedodiroz.pc.in @ONLY)
install(CODE "
  set(NAX_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/vedodiroz.pc.in\" \"${PROJECT_BINARY_DIR}/pc/vedodiroz.pc\" @ONLY)
  file(INSTALL \"${PROJECT_BINARY_DIR}/pc/vedodiroz.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")"
        COMPONENT development)

foreach(tool naxsim naxctl)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

# Each package carries the licence as its copyright file and the changelog,
# both under its own name in the docs folder, as Debian wants them.
set(NAX_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/changelog.gz)
file(READ ${PROJECT_SOURCE_DIR}/docs/changelog NAX_CHANGELOG)
string(CONFIGURE "${NAX_CHANGELOG}" NAX_CHANGELOG @ONLY)
file(WRITE ${PROJECT_BINARY_DIR}/changelog "${NAX_CHANGELOG}")
find_program(NAX_GZIP gzip)
if(NAX_GZIP)
  execute_process(COMMAND ${NAX_GZIP} -9nf ${PROJECT_BINARY_DIR}/changelog)
endif()
file(READ ${PROJECT_SOURCE_DIR}/LICENSE NAX_LICENSE)
string(REGEX REPLACE "\n\n" "\n.\n" NAX_LICENSE_DEB "${NAX_LICENSE}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" NAX_LICENSE_DEB "${NAX_LICENSE_DEB}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: vedodiroz

Files: *
Copyright: 2026 The vedodiroz developers
License: Expat

License: Expat
 ${NAX_LICENSE_DEB}")
set(NAX_DOC_PACKAGES runtime libvedodiroz1 development libvedodiroz-dev tools vedodiroz-tools)
if(NAX_HAVE_DOTNET)
  list(APPEND NAX_DOC_PACKAGES cil libvedodiroz-cil)
endif()
while(NAX_DOC_PACKAGES)
  list(POP_FRONT NAX_DOC_PACKAGES component package)
  set(docs ${PROJECT_BINARY_DIR}/copyright)
  if(EXISTS ${NAX_CHANGELOG_GZ})
    list(APPEND docs ${NAX_CHANGELOG_GZ})
  endif()
  install(FILES ${docs} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT ${component})
endwhile()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/architecture.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvedodiroz-dev COMPONENT development)
if(WIN32)
  # The Windows zip: the licence and the README at its top.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md DESTINATION .
          COMPONENT runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/naxctl.md ${PROJECT_SOURCE_DIR}/docs/naxsim.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vedodiroz-tools COMPONENT tools)
if(TARGET nax_man_pages)
  install(DIRECTORY ${NAX_MAN_DIR}-gz/man3/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
          COMPONENT development)
  install(DIRECTORY ${NAX_MAN_DIR}-gz/man1/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tools)
endif()
