# The Debian package: `cpack -G DEB` in a build directory (after the build)
# writes tolva_<version>-<release>_<architecture>.deb. The files are those of
# cmake/install.cmake, under /usr.
set(TOLVA_PACKAGE_MAINTAINER "Tolva maintainers <tolva@example.org>" CACHE STRING
  "Maintainer field of the Debian package: name and e-mail address")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolva)
set(CPACK_PACKAGE_VERSION "${TOLVA_DEBIAN_VERSION}")
set(CPACK_PACKAGE_CONTACT "${TOLVA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION "${TOLVA_DEBIAN_VERSION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLVA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is worked out from the libraries the binary links (dpkg-shlibdeps);
# libedit, which it loads only for a session on a terminal, is recommended:
# without it that session reads plain lines.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(LIBEDIT_FOUND)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libedit2)
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interpreter for a small stack-oriented language")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tolva runs programs in a small language of the Forth family. Source text
is split at white space and every token runs at once: numbers go on a
stack of double-precision values, words come from a dictionary, and a
one-character sigil in front of a name stores or fetches a variable,
starts a definition or refers to a word. Bracketed constructs collect
token lists for loops and conditionals, strings and comments.

The package contains the interpreter with an interactive session, a
language server for editors, its manual page, a tutorial, a language reference and example programs.")

# Debian policy wants a changelog.Debian.gz in every package; it goes into the
# package only, not into a plain `cmake --install`. Its date is the release
# date from the version text.
execute_process(COMMAND date -u -R -d "${TOLVA_RELEASE_DATE}"
  OUTPUT_VARIABLE changelog_date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(packaging/changelog.Debian.in changelog.Debian @ONLY)
add_custom_command(OUTPUT changelog.Debian.gz
  COMMAND "${GZIP_EXECUTABLE}" -9 -n -c changelog.Debian > changelog.Debian.gz
  DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian"
  COMMENT "Compressing the Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS changelog.Debian.gz)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT debian EXCLUDE_FROM_ALL)
# One package with both components: the files of every install() and the
# changelog.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

include(CPack)
