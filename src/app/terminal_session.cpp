#include "app/terminal_session.hpp"

#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "app/completion.hpp"
#include "app/line_editor.hpp"
#include "app/screen_line.hpp"
#include "core/trap.hpp"
#include "core/line_input.hpp"

namespace forth {

namespace {

const LineEditor* edit = nullptr;  // loaded when the first session opens

constexpr int history_size = 1000;
constexpr int default_columns = 80;

// Set by the signal handlers below, on whichever thread takes the signal.
std::atomic<int> resized = 0;
std::atomic<int> resumed = 0;
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<Runtime*>::is_always_lock_free,
              "read in signal handlers");

// The interpreter that Ctrl-C stops: the open session's.
std::atomic<Runtime*> signalled = nullptr;

void on_interrupt(int) {
    if (Runtime* const runtime = signalled.load()) request_interrupt(*runtime);
}

// The terminal's modes as the session found them. A signal that ends the
// process puts them back before it ends it as the signal would: a shell
// that does not restore them itself would leave a terminal without echo.
// Lines are in the history file as soon as they are entered.
struct termios found_modes {};

void on_end(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &found_modes);
    struct sigaction usual {};
    usual.sa_handler = SIG_DFL;
    sigemptyset(&usual.sa_mask);
    sigaction(signal, &usual, nullptr);
    // Delivered as the handler returns and the signal is let through again.
    raise(signal);
}

// on_end where `signal` would end the process; none (what is there stays)
// where the modes are unknown or the signal is handled or ignored, as nohup
// leaves SIGHUP.
using Handler = void (*)(int);
Handler ending_handler(int signal, bool modes_found) {
    struct sigaction current {};
    sigaction(signal, nullptr, &current);
    return modes_found && (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL ? on_end : nullptr;
}
void on_resize(int) { resized.store(1); }
void on_resume(int) { resumed.store(1); }

// Installs a handler for one signal while it lives (none: nothing changes).
// SA_RESTART keeps output that a signal interrupts from failing; the editor
// waits for keys in pselect, which every signal ends regardless.
class SignalHandler {
public:
    SignalHandler(int signal, void (*handler)(int)) : signal_(signal) {
        if (handler == nullptr) {
            sigaction(signal, nullptr, &previous_);
            return;
        }
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, &previous_);
    }
    ~SignalHandler() { sigaction(signal_, &previous_, nullptr); }
    SignalHandler(const SignalHandler&) = delete;
    SignalHandler& operator=(const SignalHandler&) = delete;

private:
    int signal_;
    struct sigaction previous_ {};
};

// The editor needs the terminal's character encoding to edit multibyte text.
// Only LC_CTYPE changes: numbers are read and written under LC_NUMERIC and
// the C++ global locale, which stay "C". An environment that names no
// encoding gets UTF-8, what terminals use today.
class TerminalEncoding {
public:
    TerminalEncoding() : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        const char* chosen = std::setlocale(LC_CTYPE, "");
        if (chosen == nullptr || std::strcmp(chosen, "C") == 0 || std::strcmp(chosen, "POSIX") == 0) {
            std::setlocale(LC_CTYPE, "C.UTF-8");
        }
    }
    ~TerminalEncoding() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    TerminalEncoding(const TerminalEncoding&) = delete;
    TerminalEncoding& operator=(const TerminalEncoding&) = delete;

private:
    std::string previous_;
};

// Columns that `text` takes on the terminal; -1 when unknown, as for text
// with control characters.
int display_width(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const std::size_t length = std::mbstowcs(wide.data(), text.c_str(), wide.size());
    if (length == static_cast<std::size_t>(-1)) return -1;
    return wcswidth(wide.c_str(), length);
}

// TOLVA_HISTORY names the file, and an empty value means none; by default
// it is in the home directory.
std::string history_path() {
    if (const char* chosen = std::getenv("TOLVA_HISTORY")) return chosen;
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::string(home) + "/.tolva_history" : std::string();
}

using HistoryList = std::unique_ptr<History, void (*)(History*)>;
using Editor = std::unique_ptr<EditLine, void (*)(EditLine*)>;

HistoryList new_history(int size) {
    HistoryList list(edit->history_init(), edit->history_end);
    if (!list) throw std::bad_alloc();
    HistEvent event;
    edit->history(list.get(), &event, H_SETSIZE, size);
    return list;
}

class EditorSession final : public TerminalSession {
public:
    explicit EditorSession(Context& ctx);
    ~EditorSession() override;

    Read read_code(const std::string& prompt, std::string& line) override;

private:
    enum class Got { line, interrupted, ended };

    Got get_line(const std::string& prompt, std::string& line);
    bool read_data(std::string& line);
    std::string prompt_after_output(const std::string& prompt);
    void remember(const std::string& line);
    void append_to_file(const std::string& line);
    void list(const std::vector<std::string>& names);
    int columns();

    static EditorSession& of(EditLine* editor);
    static char* prompt_of(EditLine* editor);
    static int read_char(EditLine* editor, wchar_t* character);
    static unsigned char complete(EditLine* editor, int key);

    Context& ctx_;
    TerminalEncoding encoding_;
    // Before the editor first changes the modes, and before the handlers
    // that put them back.
    const bool modes_found_ = tcgetattr(STDIN_FILENO, &found_modes) == 0;
    SignalHandler terminate_{SIGTERM, ending_handler(SIGTERM, modes_found_)};
    SignalHandler hang_up_{SIGHUP, ending_handler(SIGHUP, modes_found_)};
    SignalHandler quit_{SIGQUIT, ending_handler(SIGQUIT, modes_found_)};
    SignalHandler interrupt_{SIGINT, on_interrupt};
    SignalHandler resize_{SIGWINCH, on_resize};
    SignalHandler resume_{SIGCONT, on_resume};
    ScreenLine screen_;
    const std::string history_file_ = history_path();
    const HistoryList history_ = new_history(history_size);
    const HistoryList entry_ = new_history(1);  // the one line appended to the file
    const Editor editor_{edit->el_init("tolva", stdin, stdout, stderr), edit->el_end};
    std::string prompt_;
    std::string listed_;  // the line and cursor that the last Tab left ambiguous
    bool interrupted_ = false;
    bool ended_ = false;
};

EditorSession::EditorSession(Context& ctx) : ctx_(ctx) {
    if (!editor_) throw std::bad_alloc();
    signalled = &ctx.runtime;
    EditLine* const editor = editor_.get();
    edit->el_set(editor, EL_CLIENTDATA, this);
    edit->el_set(editor, EL_EDITOR, "emacs");
    edit->el_set(editor, EL_PROMPT, prompt_of);
    edit->el_set(editor, EL_GETCFN, read_char);
    edit->el_set(editor, EL_HIST, edit->history, history_.get());
    // The wide form keeps these static strings; the narrow one copies them
    // and never frees the copies.
    edit->el_wset(editor, EL_ADDFN, L"tolva-complete", L"Complete the name before the cursor", complete);
    edit->el_set(editor, EL_BIND, "^I", "tolva-complete", nullptr);
    edit->el_set(editor, EL_BIND, "^R", "em-inc-search-prev", nullptr);
    edit->el_set(editor, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
    // Home and End as some terminals send them, whatever terminfo says.
    edit->el_set(editor, EL_BIND, "\\e[1~", "ed-move-to-beg", nullptr);
    edit->el_set(editor, EL_BIND, "\\e[4~", "ed-move-to-end", nullptr);
    edit->el_source(editor, nullptr);

    if (!history_file_.empty()) {
        HistEvent event;
        // Sessions only append; the first to find the file over its bound
        // writes it again with the latest entries.
        if (edit->history(history_.get(), &event, H_LOAD, history_file_.c_str()) > history_size) {
            edit->history(history_.get(), &event, H_SAVE, history_file_.c_str());
        }
    }
    set_line_source(ctx_, [this](std::string& line) { return read_data(line); });
}

EditorSession::~EditorSession() {
    set_line_source(ctx_, {});
    signalled = nullptr;
}

TerminalSession::Read EditorSession::read_code(const std::string& prompt, std::string& line) {
    const Got got = get_line(prompt, line);
    if (got == Got::ended) return Read::ended;
    if (got == Got::interrupted) return Read::cancelled;
    remember(line);
    return Read::line;
}

// What accept reads: no history, and Ctrl-C stops the code that waits.
bool EditorSession::read_data(std::string& line) {
    const Got got = get_line("", line);
    if (got == Got::interrupted) throw Interrupted();
    return got == Got::line;
}

EditorSession::Got EditorSession::get_line(const std::string& prompt, std::string& line) {
    if (ended_) return Got::ended;
    std::cout.flush();
    prompt_ = prompt_after_output(prompt);
    // The editor draws its prompt before it leaves cooked mode: keys typed
    // in between would be echoed twice, and a Ctrl-D lost.
    edit->el_set(editor_.get(), EL_PREP_TERM, 1);
    // It measures the terminal when it starts, and a return from the
    // background before now needs nothing either.
    resized = 0;
    resumed = 0;
    interrupted_ = false;
    int count = 0;
    const char* const got = edit->el_gets(editor_.get(), &count);
    // The editor has left the cursor at the start of the next line, or after
    // the prompt at the end of input.
    screen_.clear();
    if (interrupted_) return Got::interrupted;
    if (got == nullptr) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
        ended_ = true;
        return Got::ended;
    }
    std::string_view text(got, static_cast<std::size_t>(count));
    if (text.ends_with('\n')) text.remove_suffix(1);
    line.assign(text);
    return Got::line;
}

// Text the program left on the current line becomes part of the prompt, so
// that the editor, which draws from the first column, draws it again over
// itself. Text it could not draw the same way starts a fresh line instead.
std::string EditorSession::prompt_after_output(const std::string& prompt) {
    const std::string& left = screen_.text();
    if (left.empty()) return prompt;
    const int width = display_width(left);
    if (left.size() <= ScreenLine::max_kept && width >= 0 && width < columns()) {
        std::fputc('\r', stdout);
        return left + prompt;
    }
    std::fputc('\n', stdout);
    return prompt;
}

// Blank lines and repeats of the latest entry are not kept. A line reaches
// the file as soon as it is entered, so nothing is lost when the session
// ends abruptly.
void EditorSession::remember(const std::string& line) {
    if (line.find_first_not_of(" \t\n\v\f\r") == std::string::npos) return;
    HistEvent event;
    if (edit->history(history_.get(), &event, H_FIRST) == 0 && line == event.str) return;
    edit->history(history_.get(), &event, H_ENTER, line.c_str());
    append_to_file(line);
}

// A file that cannot be written is no error: the history is then only kept
// for this session.
void EditorSession::append_to_file(const std::string& line) {
    if (history_file_.empty()) return;
    const int descriptor = open(history_file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) return;
    FILE* const file = fdopen(descriptor, "a");
    if (file == nullptr) {
        close(descriptor);
        return;
    }
    // The library writes its header line only where the position is 0.
    std::fseek(file, 0, SEEK_END);
    HistEvent event;
    edit->history(entry_.get(), &event, H_CLEAR);
    edit->history(entry_.get(), &event, H_ENTER, line.c_str());
    edit->history(entry_.get(), &event, H_SAVE_FP, file);
    std::fclose(file);
}

// The candidates in columns, sorted down each column, below the line.
void EditorSession::list(const std::vector<std::string>& names) {
    std::vector<int> widths;
    int widest = 0;
    for (const std::string& name : names) {
        const int width = display_width(name);
        widths.push_back(width < 0 ? static_cast<int>(name.size()) : width);
        widest = std::max(widest, widths.back());
    }
    const std::size_t per_row = static_cast<std::size_t>(std::max(1, columns() / (widest + 2)));
    const std::size_t rows = (names.size() + per_row - 1) / per_row;
    std::string text = "\n";
    for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t index = row; index < names.size(); index += rows) {
            text += names[index];
            if (index + rows < names.size()) text.append(static_cast<std::size_t>(widest + 2 - widths[index]), ' ');
        }
        text += '\n';
    }
    std::fputs(text.c_str(), stdout);
}

int EditorSession::columns() {
    int count = 0;
    if (edit->el_get(editor_.get(), EL_GETTC, "co", &count) != 0 || count <= 0) return default_columns;
    return count;
}

EditorSession& EditorSession::of(EditLine* editor) {
    void* session = nullptr;
    edit->el_get(editor, EL_CLIENTDATA, &session);
    return *static_cast<EditorSession*>(session);
}

char* EditorSession::prompt_of(EditLine* editor) { return of(editor).prompt_.data(); }

// Reads one character for the editor. Waiting in pselect with the watched
// signals let through only there means none of them goes unnoticed. Ctrl-C
// ends the line as Enter would, so that it stays on the screen and the
// cursor moves below it, and the line is then thrown away. A resize or a
// return from the background redraws.
int EditorSession::read_char(EditLine* editor, wchar_t* character) {
    sigset_t watched, previous;
    sigemptyset(&watched);
    for (const int signal : {SIGINT, SIGWINCH, SIGCONT}) sigaddset(&watched, signal);
    std::mbstate_t state{};
    for (;;) {
        sigprocmask(SIG_BLOCK, &watched, &previous);
        int ready = 0;
        Runtime& runtime = of(editor).ctx_.runtime;
        if (!interrupt_pending(runtime) && resized.load() == 0 && resumed.load() == 0) {
            fd_set input;
            FD_ZERO(&input);
            FD_SET(STDIN_FILENO, &input);
            ready = pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr, &previous);
        }
        const int wait_error = ready < 0 ? errno : 0;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (interrupt_pending(runtime)) {
            drop_interrupt(runtime);
            of(editor).interrupted_ = true;
            *character = L'\n';
            return 1;
        }
        if (resumed.exchange(0) != 0) {
            // The shell may have changed the terminal's modes meanwhile.
            edit->el_set(editor, EL_PREP_TERM, 0);
            edit->el_set(editor, EL_PREP_TERM, 1);
            edit->el_set(editor, EL_REFRESH);
        }
        if (resized.exchange(0) != 0) {
            edit->el_resize(editor);
            edit->el_set(editor, EL_REFRESH);
        }
        if (ready < 0 && wait_error != EINTR) {
            errno = wait_error;
            return -1;
        }
        if (ready <= 0) continue;
        char byte = 0;
        const ssize_t read_count = read(STDIN_FILENO, &byte, 1);
        if (read_count == 0) return 0;
        if (read_count < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        const std::size_t used = std::mbrtowc(character, &byte, 1, &state);
        if (used == static_cast<std::size_t>(-2)) continue;  // more bytes to come
        if (used == static_cast<std::size_t>(-1)) {
            // Dropped, as the editor's own reader drops invalid sequences.
            state = std::mbstate_t{};
            continue;
        }
        return 1;
    }
}

// Tab: completes the token before the cursor as far as all candidates
// agree, with a blank after a single one; a second Tab that can add nothing
// lists them. No exception may cross the editor's C code: a completion that
// runs out of memory just fails.
unsigned char EditorSession::complete(EditLine* editor, int) try {
    EditorSession& self = of(editor);
    const LineInfo* const line = edit->el_line(editor);
    const std::string_view before(line->buffer, static_cast<std::size_t>(line->cursor - line->buffer));
    const std::string_view token = last_token(before);
    const std::vector<std::string> names = completions(self.ctx_, token);
    if (names.empty()) return CC_ERROR;
    std::string addition = common_prefix(names).substr(token.size());
    if (names.size() == 1) addition += ' ';
    if (!addition.empty() && edit->el_insertstr(editor, addition.c_str()) != 0) return CC_ERROR;
    if (names.size() == 1) return CC_REFRESH;

    const LineInfo* const now = edit->el_line(editor);
    std::string state(now->buffer, now->lastchar);
    state += '\0' + std::to_string(now->cursor - now->buffer);
    if (addition.empty() && state == self.listed_) {
        self.list(names);
        return CC_REDISPLAY;
    }
    self.listed_ = std::move(state);
    return addition.empty() ? CC_ERROR : CC_REFRESH;
} catch (const std::exception&) {
    return CC_ERROR;
}

}  // namespace

std::unique_ptr<TerminalSession> open_terminal_session(Context& ctx) {
    if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) return nullptr;
    edit = load_line_editor();
    if (edit == nullptr) return nullptr;
    return std::make_unique<EditorSession>(ctx);
}

}  // namespace forth
