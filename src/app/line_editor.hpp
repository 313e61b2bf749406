#pragma once

#include <histedit.h>

namespace forth {

// The line editor's functions. The library is loaded when the first
// terminal session opens, not when the program starts: a program run from a
// file, a pipe or -e never pays for loading it and the libraries it needs.
struct LineEditor {
    decltype(&::el_init) el_init;
    decltype(&::el_end) el_end;
    decltype(&::el_get) el_get;
    decltype(&::el_gets) el_gets;
    decltype(&::el_insertstr) el_insertstr;
    decltype(&::el_line) el_line;
    decltype(&::el_resize) el_resize;
    decltype(&::el_set) el_set;
    decltype(&::el_source) el_source;
    decltype(&::el_wset) el_wset;
    decltype(&::history) history;
    decltype(&::history_init) history_init;
    decltype(&::history_end) history_end;
};

// The functions, or null when the library cannot be loaded: then the
// interactive loop reads plain lines, as a build without it does.
const LineEditor* load_line_editor();

}  // namespace forth
