# What `cmake --install` puts under the prefix: the program, its manual page
# and the documentation. The static libraries and the tests stay in the
# build tree.
include(GNUInstallDirs)

install(TARGETS tolva tolva-lsp RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The manual page is installed compressed, as Debian policy wants it; man
# reads it either way. -n leaves out the name and time stamp, so the same
# page always gives the same bytes.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(manual_page "${CMAKE_CURRENT_BINARY_DIR}/tolva.1.gz")
add_custom_command(OUTPUT "${manual_page}"
  COMMAND "${GZIP_EXECUTABLE}" -9 -n -c "${PROJECT_SOURCE_DIR}/docs/tolva.1" > "${manual_page}"
  DEPENDS "${PROJECT_SOURCE_DIR}/docs/tolva.1"
  COMMENT "Compressing the manual page")
add_custom_target(manual_page ALL DEPENDS "${manual_page}")
install(FILES "${manual_page}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

install(FILES README.md docs/language.md docs/tutorial.md packaging/copyright
  DESTINATION "${CMAKE_INSTALL_DOCDIR}")
# The example programs, and the input that some of them read.
file(GLOB example_programs CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/examples/*.tv" "${PROJECT_SOURCE_DIR}/examples/*.in")
install(FILES ${example_programs} DESTINATION "${CMAKE_INSTALL_DOCDIR}/examples")

# Syntax highlighting for Vim and for editors that read TextMate grammars.
install(DIRECTORY editors/ DESTINATION "${CMAKE_INSTALL_DOCDIR}/editors")
