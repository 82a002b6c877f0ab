# What a user installs: the Debian packages of the Linux build (cpack -G DEB:
# vantle with the program and the LV2 plugin, libvantle-tonbrel1 with the
# shared library, libvantle-tonbrel-dev for building against it, and
# vantle-master where the FFmpeg libraries were found) and the zip of the
# Windows build (cpack -G ZIP), all from the one project version.

set(CPACK_PACKAGE_NAME vantle)
set(CPACK_PACKAGE_VENDOR "Vantle Audio")
set(CPACK_PACKAGE_CONTACT "Vantle Audio <packages@vantle.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
set(doc ${PROJECT_BINARY_DIR}/packaging)  # files made for the packages

if(CMAKE_CROSSCOMPILING AND WIN32)
  # The zip: the two programs (and the library's DLL and header) with the
  # README and the licence as Windows text files, in a folder named like the
  # zip.
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

# The man pages, written in scdoc and made into roff at build time.
find_program(VANTLE_SCDOC scdoc)
find_program(VANTLE_GZIP gzip REQUIRED)
set(pages)
# man_page(NAME SOURCE COMPONENT): NAME.1.gz from the scdoc SOURCE, installed
# with the package of COMPONENT.
function(man_page name source component)
  configure_file(${source} ${doc}/${name}.1.scd @ONLY)
  add_custom_command(
    OUTPUT ${doc}/${name}.1.gz
    COMMAND ${VANTLE_SCDOC} < ${doc}/${name}.1.scd > ${doc}/${name}.1
    COMMAND ${VANTLE_GZIP} -9nf ${doc}/${name}.1
    DEPENDS ${doc}/${name}.1.scd
    COMMENT "Man page ${name}(1)")
  install(FILES ${doc}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
  set(pages ${pages} ${doc}/${name}.1.gz PARENT_SCOPE)
endfunction()
if(VANTLE_SCDOC)
  man_page(vantle-tonbrel ${PROJECT_SOURCE_DIR}/tool/doc/vantle-tonbrel.1.scd.in tool)
  if(TARGET vantle-master)
    man_page(vantle-master ${PROJECT_SOURCE_DIR}/master/doc/vantle-master.1.scd.in master)
  endif()
  add_custom_target(man-pages ALL DEPENDS ${pages})
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

install(TARGETS vantle-tonbrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/tool/doc/vantle-tonbrel.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME vantle-tonbrel COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/packaging/copyright
              ${doc}/changelog.gz
        DESTINATION ${docdir} COMPONENT tool)

# One package per component, each with its own copyright and changelog.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool library development)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vantle)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libvantle-tonbrel1)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvantle-tonbrel-dev)
set(packages libvantle-tonbrel1:library libvantle-tonbrel-dev:development)
# vantle-master is a package of its own: the FFmpeg libraries it needs stay
# off machines that only pipe audio through vantle-tonbrel.
if(TARGET vantle-master)
  list(APPEND CPACK_COMPONENTS_ALL master)
  list(APPEND packages vantle-master:master)
  set(CPACK_DEBIAN_MASTER_PACKAGE_NAME vantle-master)
  install(TARGETS vantle-master RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT master)
endif()
foreach(package ${packages})
  string(REPLACE ":" ";" package ${package})
  list(GET package 0 name)
  list(GET package 1 component)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/packaging/copyright ${doc}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
endforeach()
# The shared library's package tells dpkg which version programs need, and
# has the linker cache refreshed by a trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${doc}/library/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${doc}/library/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libvantle-tonbrel1 (= ${PROJECT_VERSION})")

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The first line of each description is its synopsis.
set(CPACK_DEBIAN_TOOL_DESCRIPTION
    "broadcast-style audio processing on a pipe and as an LV2 plugin
vantle-tonbrel reads raw 32-bit float PCM (one or two channels) on standard
input, runs it through a fixed broadcast-style chain (gain riding, six-band
dynamics with clippers, spectral balance, output peak control, clip repair and
a true-peak look-ahead limiter) in one of three voicings, podcast, stream or
limiter, and writes it on standard output. No output sample reaches the
ceiling of -0.1 dBFS. The same chain, with the same sound, comes as an LV2
plugin (stereo and mono) for hosts such as Ardour, Carla or ffmpeg.")
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "vantle-tonbrel's processing chain as a C library
libvantle-tonbrel runs the chain of vantle-tonbrel (podcast, stream and
limiter voicings, output below -0.1 dBFS) inside another program, on
interleaved 32-bit float buffers of one or two channels.")
set(CPACK_DEBIAN_MASTER_DESCRIPTION
    "from an audio file to a delivery-ready file, with a loudness report
vantle-master decodes any audio file the FFmpeg libraries read, runs it
through the chain of vantle-tonbrel with the chain's latency removed, and
writes WAV, FLAC, MP3, AAC or Opus. It measures loudness (EBU R128) and true
peak before and after, meets a delivery target (podcast -16 LUFS, stream -14
LUFS, broadcast -23 LUFS or any level, under a true-peak limit) with one
static gain, and writes a JSON report and an SVG plot of loudness over time.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "vantle-tonbrel's processing chain as a C library (development files)
The C header, the static library and the pkg-config file for building
programs against libvantle-tonbrel.")
include(CPack)
