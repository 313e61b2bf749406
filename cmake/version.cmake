# The version is read from the program's own version text, so that the
# project and the package can never disagree with `tolva --version`.
# Included before project(); sets
#   TOLVA_VERSION_TEXT     as the program prints it, e.g. 4.1b
#   TOLVA_VERSION_NUMBER   the numeric part, for project(VERSION), e.g. 4.1
#   TOLVA_DEBIAN_VERSION   the upstream part of the Debian version, e.g. 4.1~b
#   TOLVA_RELEASE_DATE     the date in the version text, e.g. 27 Feb 2024
set(version_source "${CMAKE_CURRENT_LIST_DIR}/../src/app/texts.hpp")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${version_source}")
file(STRINGS "${version_source}" version_line REGEX "version_string *=")
if(NOT version_line MATCHES "\"Tolva v(([0-9]+(\\.[0-9]+)*)([a-z]*)) \\(([^)]+)\\)\"")
  message(FATAL_ERROR "No version of the form \"Tolva v4.1b (27 Feb 2024)\" found in ${version_source}")
endif()
set(TOLVA_RELEASE_DATE "${CMAKE_MATCH_5}")
set(TOLVA_VERSION_TEXT "${CMAKE_MATCH_1}")
set(TOLVA_VERSION_NUMBER "${CMAKE_MATCH_2}")
# A letter after the number (4.1b) becomes "~letter" in the Debian version.
# "~" sorts before everything, even the end of the string, so 4.1~b comes
# before 4.1, 4.1c and 4.2: whichever of these is released next installs
# as an upgrade. A plain "4.1b" would sort after a later final 4.1.
if(CMAKE_MATCH_4)
  set(TOLVA_DEBIAN_VERSION "${CMAKE_MATCH_2}~${CMAKE_MATCH_4}")
else()
  set(TOLVA_DEBIAN_VERSION "${CMAKE_MATCH_2}")
endif()
unset(version_source)
unset(version_line)
