#pragma once

#include <array>
#include <string_view>

namespace forth {

inline constexpr std::string_view version_string = "Tolva v4.1b (27 Feb 2024)";

// Written after "Usage: " and the program name, each followed by a newline.
inline constexpr std::array<std::string_view, 11> usage_lines = {
    " [ -v | -h | -e CODE | -i FILE | PROGRAM ]",
    "",
    "Arguments:",
    "    PROGRAM:       run given program",
    "",
    "Options:",
    "    -h, --help:    show this message and quit",
    "    -v, --version: show version and quit",
    "    -t, --test:    run internal tests and quit",
    "    -e, --exec:    evaluate given CODE and quit",
    "    -i, --include: include given FILE and go interactive",
};

// The banner's last line for a person at a terminal.
inline constexpr std::string_view help_hint = "Type help to learn more.";

// What `help` shows a person at a terminal, each line followed by a newline.
inline constexpr std::array<std::string_view, 9> help_lines = {
    "Each word and number runs as it is read; numbers go on the stack.",
    "  words          lists the words defined now",
    "  ?name          shows how the word name is defined, as ?dup",
    "  .s             shows the stack without changing it; clear empties it",
    "  :name ... ;    defines a word, as :sq dup * ; 7 sq . cr",
    "Set in the environment before starting tolva:",
    "  TOLVA_WHERE=0  no places, warnings or explanations, as for a script",
    "  TOLVA_TRACE=1  every token as it runs, with the stack it finds",
    "The tutorial is tutorial.md among Tolva's documentation (/usr/share/doc/tolva); the manual is man tolva.",
};

// The self-test program: one source line each, run in order on one Context.
inline constexpr std::array<std::string_view, 18> test_lines = {
    "( Testing stack usage: ) .. cr",
    "3 2 .s + . cr /* This is a comment */",
    "( Testing variable usage: ) .. cr",
    "3 =a $a . cr \\ This is a comment too",
    "( Testing increment and decrement: ) .. cr",
    "1 =b 2 +b 5 -b $b . cr",
    "( Defined words: ) .. words",
    "( Testing word definitions: ) .. cr",
    ":hello ( Hello, world! ) .. cr ;",
    "?hello hello 'hello execute",
    "[ ( Hello again! ) .. cr ] /hello2 hello2",
    "",
    "( Testing control structures: ) .. cr",
    "[ ( la ) .. ] 3 times cr",
    "3 2 + 3 2 * < { ( Yes! ) .. cr } iftrue",
    "1 =a { $a . 1 +a } while { $a 5 <= } repeat cr",
    "\\ Same as above, using the stack instead.",
    "1 { dup . 1+ } while { dup 5 <= } repeat drop cr",
};

}  // namespace forth
