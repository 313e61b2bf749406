#include "app/line_editor.hpp"

#include <dlfcn.h>

namespace forth {

namespace {

template <typename Function>
bool find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

LineEditor* load() {
    // Kept loaded for the rest of the process: sessions may open again.
    void* library = dlopen("libedit.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    static LineEditor editor;
    const bool found = find(library, "el_init", editor.el_init) && find(library, "el_end", editor.el_end) &&
                       find(library, "el_get", editor.el_get) && find(library, "el_gets", editor.el_gets) &&
                       find(library, "el_insertstr", editor.el_insertstr) && find(library, "el_line", editor.el_line) &&
                       find(library, "el_resize", editor.el_resize) && find(library, "el_set", editor.el_set) &&
                       find(library, "el_source", editor.el_source) && find(library, "el_wset", editor.el_wset) &&
                       find(library, "history", editor.history) && find(library, "history_init", editor.history_init) &&
                       find(library, "history_end", editor.history_end);
    return found ? &editor : nullptr;
}

}  // namespace

const LineEditor* load_line_editor() {
    static const LineEditor* const editor = load();
    return editor;
}

}  // namespace forth
