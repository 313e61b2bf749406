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
# Depends is worked out from the libraries the binary links (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interpreter for a small stack-oriented language")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tolva runs programs in a small language of the Forth family. Source text
is split at white space and every token runs at once: numbers go on a
stack of double-precision values, words come from a dictionary, and a
one-character sigil in front of a name stores or fetches a variable,
starts a definition or refers to a word. Bracketed constructs collect
token lists for loops and conditionals, strings and comments.

The package contains the interpreter with an interactive session, its
manual page, a language reference with a tutorial, and example programs.")

include(CPack)
