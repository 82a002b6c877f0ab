# What a user installs: the Debian package of the Linux build (cpack -G DEB)
# and the zip of the Windows build (cpack -G ZIP), both from the one project
# version.

set(CPACK_PACKAGE_NAME vantle)
set(CPACK_PACKAGE_VENDOR "Vantle Audio")
set(CPACK_PACKAGE_CONTACT "Vantle Audio <packages@vantle.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "broadcast-style audio processing on a pipe")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
set(doc ${PROJECT_BINARY_DIR}/packaging)  # files made for the packages

if(CMAKE_CROSSCOMPILING AND WIN32)
  # The zip: the two programs with the README and the licence as Windows
  # text files, in a folder named like the zip.
  configure_file(${PROJECT_SOURCE_DIR}/README.md ${doc}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${doc}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS vantle-tonbrel VantleCast RUNTIME DESTINATION .)
  install(FILES ${doc}/README.txt ${doc}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vantle-${PROJECT_VERSION}-win64)
  include(CPack)
  return()
endif()

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

include(GNUInstallDirs)
set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantle)

# The man page, written in scdoc and made into roff at build time.
find_program(VANTLE_SCDOC scdoc)
find_program(VANTLE_GZIP gzip REQUIRED)
if(VANTLE_SCDOC)
  configure_file(${PROJECT_SOURCE_DIR}/tool/doc/vantle-tonbrel.1.scd.in ${doc}/vantle-tonbrel.1.scd
                 @ONLY)
  add_custom_command(
    OUTPUT ${doc}/vantle-tonbrel.1.gz
    COMMAND ${VANTLE_SCDOC} < ${doc}/vantle-tonbrel.1.scd > ${doc}/vantle-tonbrel.1
    COMMAND ${VANTLE_GZIP} -9nf ${doc}/vantle-tonbrel.1
    DEPENDS ${doc}/vantle-tonbrel.1.scd
    COMMENT "Man page vantle-tonbrel(1)")
  add_custom_target(man-pages ALL DEPENDS ${doc}/vantle-tonbrel.1.gz)
  install(FILES ${doc}/vantle-tonbrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "scdoc not found: no man pages (the packages need them)")
endif()

# Debian's own documentation files: the licence in its copyright format and
# the package's changelog, compressed as Debian wants them.
configure_file(${PROJECT_SOURCE_DIR}/cmake/packaging/changelog.in ${doc}/changelog @ONLY)
add_custom_command(
  OUTPUT ${doc}/changelog.gz
  COMMAND ${VANTLE_GZIP} -9nkf ${doc}/changelog
  DEPENDS ${doc}/changelog
  COMMENT "Package changelog")
add_custom_target(package-docs ALL DEPENDS ${doc}/changelog.gz)

install(TARGETS vantle-tonbrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tool/doc/vantle-tonbrel.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME vantle-tonbrel)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/packaging/copyright
              ${doc}/changelog.gz
        DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack writes the summary as the synopsis line, then this text indented.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "vantle-tonbrel reads raw 32-bit float PCM (one or two channels) on standard
input, runs it through a fixed broadcast-style chain (gain riding, six-band
dynamics with clippers, spectral balance, output peak control, clip repair and
a true-peak look-ahead limiter) in one of three voicings, podcast, stream or
limiter, and writes it on standard output. No output sample reaches the
ceiling of -0.1 dBFS.")
include(CPack)
