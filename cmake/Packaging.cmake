# Installation layout and the packages: the Debian package, and a ZIP archive for Windows.
#
#   cmake --install <build> --prefix <dir>   installs bin/qrvdiff, bin/qrvdiff-summary, their
#                                            pages share/man/man1/qrvdiff.1 and
#                                            qrvdiff-summary.1, and
#                                            share/doc/qrvdiff/examples/ci-recipe.sh
#   cpack -G DEB (in <build>)                writes qrvdiff_<version>_<arch>.deb
#
# A Windows build instead installs qrvdiff.exe, README.md and the manual page as text
# (qrvdiff.txt, CR LF) side by side, and `cpack -G ZIP` writes qrvdiff-<version>-win64.zip.
#
# Included from the top-level CMakeLists.txt after the qrvdiff and qrvdiff-summary targets are
# defined.

set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME qrvdiff)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "qrvdiff developers")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS qrvdiff RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  find_program(QRVDIFF_MAN_FORMATTER NAMES mandoc groff)
  if(QRVDIFF_MAN_FORMATTER)
    set(manual_text ${PROJECT_BINARY_DIR}/qrvdiff.txt)
    add_custom_command(
      OUTPUT ${manual_text}
      COMMAND ${CMAKE_COMMAND} -DFORMATTER=${QRVDIFF_MAN_FORMATTER}
              -DPAGE=${PROJECT_SOURCE_DIR}/doc/qrvdiff.1 -DOUTPUT=${manual_text}
              -P ${PROJECT_SOURCE_DIR}/cmake/RenderManPage.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/doc/qrvdiff.1 ${PROJECT_SOURCE_DIR}/cmake/RenderManPage.cmake
      VERBATIM)
    add_custom_target(qrvdiff_manual_text ALL DEPENDS ${manual_text})
    install(FILES ${manual_text} DESTINATION .)
  else()
    message(STATUS "Neither mandoc nor groff found: the archive has no qrvdiff.txt")
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME qrvdiff-${PROJECT_VERSION}-win64)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)

install(TARGETS qrvdiff qrvdiff-summary RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/qrvdiff.1 ${PROJECT_SOURCE_DIR}/doc/qrvdiff-summary.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/doc/ci-recipe.sh
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT "qrvdiff developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "compare two execution profile listings and mark coverage differences")
set(CPACK_PACKAGE_DESCRIPTION
    "qrvdiff reads two execution profile listings (plain-text coverage reports) and writes a copy
of the second in which every measurement point of each comparable function is marked: \"^\" for
coverage gained, \"v\" for coverage lost. Functions are paired by name and tested for equal
structure; shifted source line numbers are tolerated. Function, file and summary lines state
the amounts of coverage kept, gained and lost. qrvdiff-summary reports a compared listing's
totals and changed points as text, JSON, workflow annotations or markdown, and fails a CI job
on lost coverage.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_NAME qrvdiff)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "qrvdiff developers")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Derive the run-time dependencies from the binary when dpkg-shlibdeps is at hand; otherwise
# name the two libraries that a C++ program built with the system compiler needs.
find_program(QRVDIFF_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QRVDIFF_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()

include(CPack)
