# Install rules: the shared and static library with the header, a CMake package
# (find_package(vedodiroz CONFIG) gives vedodiroz::vedodiroz and
# vedodiroz::static), vedodiroz.pc for pkg-config, the tools, the man pages and
# the docs, all in the GNU install directories.
include(CMakePackageConfigHelpers)

set(NAX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vedodiroz)

install(TARGETS vedodiroz vedodiroz_static
        EXPORT vedodirozTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/vedodiroz.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT vedodirozTargets NAMESPACE vedodiroz:: DESTINATION ${NAX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vedodiroz-config.cmake.in
                              ${PROJECT_BINARY_DIR}/vedodiroz-config.cmake
                              INSTALL_DESTINATION ${NAX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vedodiroz-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vedodiroz-config.cmake
              ${PROJECT_BINARY_DIR}/vedodiroz-config-version.cmake
        DESTINATION ${NAX_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so an installed tree can be
# moved (or unpacked from a package) without editing it.
file(RELATIVE_PATH NAX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vedodiroz.pc.in ${PROJECT_BINARY_DIR}/vedodiroz.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vedodiroz.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

foreach(tool naxsim naxctl)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/architecture.md
              ${PROJECT_SOURCE_DIR}/docs/naxctl.md ${PROJECT_SOURCE_DIR}/docs/naxsim.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARGET nax_man_pages)
  install(DIRECTORY ${NAX_MAN_DIR}/ DESTINATION ${CMAKE_INSTALL_MANDIR})
endif()
