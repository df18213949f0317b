# Installing (`cmake --install`) and the Debian package (`cpack -G DEB`). Only the program and
# its manual page are installed; tests, benchmarks and fuzzers stay in the build folder.
include(GNUInstallDirs)

configure_file(${PROJECT_SOURCE_DIR}/doc/brevalo.1.in ${PROJECT_BINARY_DIR}/doc/brevalo.1 @ONLY)
install(TARGETS brevalo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/doc/brevalo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Installing needs the program alone: without this, the install target and cpack would first
# build every test and benchmark.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brevalo)
set(CPACK_PACKAGE_CONTACT "Brevalo developers <developers@brevalo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen terminal audio player")
set(CPACK_PACKAGE_DESCRIPTION "\
Brevalo walks the file system in a full-screen browser that lists folders
and MP3, WAV, FLAC and M4A files, and plays the chosen file through the
desktop's sound server (PulseAudio or PipeWire), or through SDL2's audio
output where there is none. A now-playing line built from the track's tags
stands above a progress gauge. Space pauses, Tab shows the highlighted
file's tags, and when a track ends the next file of the folder starts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

# What Debian asks of a package beyond the installed files: the manual page compressed, a
# copyright file and a changelog. Added to the staging folder just before the archive is made.
string(TIMESTAMP BREVALO_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog
  @ONLY)
set(CPACK_BREVALO_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/copyright)
set(CPACK_BREVALO_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog)
set(CPACK_BREVALO_MAN_PAGE ${CMAKE_INSTALL_MANDIR}/man1/brevalo.1)
set(CPACK_BREVALO_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian_layout.cmake)

include(CPack)
