# Installation and packages.
#
#   cmake --install build --prefix /usr     # bin/dedupe and its man page
#   cd build && cpack -G DEB                 # dedupe_<version>_<arch>.deb
include(GNUInstallDirs)

install(TARGETS dedupe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/dedupe.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(DEDUPE_PACKAGE_MAINTAINER "dedupe maintainers <maintainers@users.noreply.c-seed-e0e11348.example>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME dedupe)
set(CPACK_PACKAGE_VENDOR "dedupe")
set(CPACK_PACKAGE_CONTACT "${DEDUPE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remove repeated lines from a text file")
set(CPACK_PACKAGE_DESCRIPTION
    "dedupe reads infile.euc in the current folder, skips blank lines, logs
every repeated line to duplicates.euc as it meets it and writes the distinct
lines in ascending byte order to outfile.euc. The files are CR LF text,
handled as bytes whatever their character set.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The installed binary needs no symbols to run.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DEDUPE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps reads the libraries the binary links against (the C and C++
# runtimes) and writes the matching Depends line; without it the same three
# are named by hand.
find_program(DEDUPE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DEDUPE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

include(CPack)
