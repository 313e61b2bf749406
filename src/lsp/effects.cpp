#include "lsp/effects.hpp"

#include <algorithm>
#include <limits>
#include <sstream>

#include "core/integer.hpp"
#include "core/user_word.hpp"
#include "engine/meaning.hpp"
#include "words/vocabulary.hpp"

namespace forth::lsp {

Effect then(Effect first, Effect second) {
    if (first.kind == Effect::Kind::unknown || second.kind == Effect::Kind::unknown) return Effect::unknown();
    if (first.kind == Effect::Kind::never || second.kind == Effect::Kind::never) return Effect::never();
    if (second.in <= first.out) return Effect::of(first.in, first.out - second.in + second.out);
    return Effect::of(first.in + second.in - first.out, second.out);
}

std::optional<Names> declared_names(std::string_view comment) {
    const std::size_t open = comment.find("( ");
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t close = comment.find(" )", open);
    if (close == std::string_view::npos) return std::nullopt;
    std::istringstream words{std::string(comment.substr(open + 2, close - open - 2))};
    Names names;
    bool after = false;
    for (std::string word; words >> word;) {
        if (word == "--") {
            if (after) return std::nullopt;
            after = true;
        } else {
            (after ? names.out : names.in).push_back(word);
        }
    }
    if (!after) return std::nullopt;
    return names;
}

std::string notation(const Effect& effect, const std::optional<Names>& names) {
    if (!effect.known()) return "( ? )";
    std::string text = "(";
    if (names && static_cast<int>(names->in.size()) == effect.in && static_cast<int>(names->out.size()) == effect.out) {
        for (const std::string& name : names->in) text += ' ' + name;
        text += " --";
        for (const std::string& name : names->out) text += ' ' + name;
        return text + " )";
    }
    char name = 'a';
    const auto add = [&](int count) {
        for (int value = 0; value < count; ++value, name = name == 'z' ? 'a' : static_cast<char>(name + 1))
            text += std::string(" ") + name;
    };
    add(effect.in);
    text += " --";
    add(effect.out);
    return text + " )";
}

namespace {

// Where each value a stack word leaves comes from: 0 the deepest it takes.
struct Shuffle {
    Row row;
    int in;
    std::vector<int> from;
};
constexpr int a = 0, b = 1, c = 2;
#define TOLVA_OUTPUTS(...) {__VA_ARGS__}
#define SHUFFLE(name, id, in, outputs) Shuffle{Row::id, in, TOLVA_OUTPUTS outputs},
const Shuffle shuffles[] = {
#include "words/vocabulary.def"
};
#undef TOLVA_OUTPUTS

const Shuffle* shuffle_of(const Builtin& row) {
    for (const Shuffle& shuffle : shuffles)
        if (&forth::row(shuffle.row) == &row) return &shuffle;
    return nullptr;
}

// Running into what cannot be known ends the walk of a list.
struct Unknowable {};

// Walks beyond this many tokens in one analysis are not worth their time.
constexpr std::size_t most_steps = 2'000'000;
// Lists run in place (execute, iftrue) within one another this deep.
constexpr int most_inline = 64;
// Ways through one list kept apart; more is not worth telling apart.
constexpr std::size_t most_paths = 64;
// Rounds of a word that calls itself; one whose effect still changes after
// this many grows with its depth.
constexpr int most_rounds = 64;

}  // namespace

// One value on the stack: a name, and whether it stands for the name's
// negation (`not`), so that a flag's truth is known where it was tested.
struct Value {
    int id = 0;
    bool negated = false;
    std::optional<double> number;  // a number written in the list, as it was
    friend bool operator==(const Value&, const Value&) = default;
};

// One way through a list: what it has taken from below it, what it holds
// above, the truths it took, and the lists it would run next.
struct Path {
    int taken = 0;
    std::vector<Value> stack;
    std::vector<std::pair<int, bool>> truths;
    std::shared_ptr<const Tokens> quotation, loop_body;  // null: unknown
    friend bool operator==(const Path&, const Path&) = default;
};

struct Effects::Pending {
    const ListNode* body;
    Effect guess = Effect::never();
    bool recursive = false;
};

namespace {

std::optional<bool> truth_of(const Path& path, Value value) {
    for (const auto& [id, truth] : path.truths)
        if (id == value.id) return truth != value.negated;
    return std::nullopt;
}

void assume(Path& path, Value value, bool truth) { path.truths.emplace_back(value.id, truth != value.negated); }

// Only the values on the stack can be tested again: the rest is dropped, and
// names are given in order, so that ways that differ in nothing else merge.
void normalise(Path& path) {
    std::vector<std::pair<int, int>> renamed;
    int next = 0;
    for (Value& value : path.stack) {
        const auto seen = std::find_if(renamed.begin(), renamed.end(), [&](const auto& r) { return r.first == value.id; });
        const int id = seen != renamed.end() ? seen->second : (renamed.emplace_back(value.id, next), next++);
        value.id = id;
    }
    std::vector<std::pair<int, bool>> kept;
    for (const std::pair<int, bool>& truth : path.truths) {
        const auto seen =
            std::find_if(renamed.begin(), renamed.end(), [&](const auto& r) { return r.first == truth.first; });
        if (seen != renamed.end()) kept.emplace_back(seen->second, truth.second);
    }
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    path.truths = std::move(kept);
}

}  // namespace

// Runs lists on paths: each token takes every path to those it may go on by.
class Walker {
public:
    explicit Walker(Effects& effects) : effects_(effects) {}

    std::vector<std::string> named;  // what running the lists may define
    bool anything = false;
    bool leaves_open = false;

    // What a list or word run here may define is what this may.
    void take_names(const ListEffect& effect) {
        named.insert(named.end(), effect.names.begin(), effect.names.end());
        anything = anything || effect.anything;
    }

    Value fresh() { return {effects_.next_value_++, false, std::nullopt}; }

    void take(Path& path, int count, std::vector<Value>* taken = nullptr) {
        while (static_cast<int>(path.stack.size()) < count) {
            path.stack.insert(path.stack.begin(), fresh());
            ++path.taken;
        }
        if (taken != nullptr) taken->assign(path.stack.end() - count, path.stack.end());
        path.stack.resize(path.stack.size() - static_cast<std::size_t>(count));
    }

    void apply(Path& path, const Effect& effect) {
        take(path, effect.in);
        for (int out = 0; out < effect.out; ++out) path.stack.push_back(fresh());
    }

    std::vector<Path> list(std::vector<Path> paths, const Tokens& tokens, int depth) {
        if (depth > most_inline) throw Unknowable{};
        for (std::size_t at = 0; at < tokens.size() && !paths.empty(); ++at) {
            const std::string& token = tokens[at];
            const Meaning meaning = meaning_of(effects_.reading_, token, true);
            const Builtin* row = meaning.kind == Meaning::Kind::word    ? row_of(*meaning.word)
                                 : meaning.kind == Meaning::Kind::sigil ? row_of(*meaning.handler)
                                                                        : nullptr;
            if (row != nullptr && (row->kind == Kind::opener || row->kind == Kind::opener_sigil)) {
                // Collected raw up to its closer, which the list must hold.
                std::size_t end = at + 1;
                while (end < tokens.size() && tokens[end] != row->closer) ++end;
                if (end == tokens.size()) {
                    leaves_open = true;
                    throw Unknowable{};
                }
                if (row->construct == Construct::list) {
                    const auto inner = std::make_shared<const Tokens>(tokens.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                                                      tokens.begin() + static_cast<std::ptrdiff_t>(end));
                    for (Path& path : paths) path.quotation = inner;
                }
                if (row->construct == Construct::definition) named.push_back(token.substr(1));
                at = end;
                continue;
            }
            std::vector<Path> next;
            for (Path& path : paths) step(std::move(path), meaning, row, depth, next);
            paths = merge(std::move(next));
        }
        return paths;
    }

    static std::vector<Path> merge(std::vector<Path> paths) {
        if (paths.size() < 2) return paths;
        for (Path& path : paths) normalise(path);
        std::vector<Path> kept;
        for (Path& path : paths)
            if (std::find(kept.begin(), kept.end(), path) == kept.end()) kept.push_back(std::move(path));
        if (kept.size() > most_paths) throw Unknowable{};
        return kept;
    }

    // What a list leaves on every way through it.
    static Effect summary(const std::vector<Path>& paths) {
        if (paths.empty()) return Effect::never();
        int in = 0;
        std::optional<int> net;
        for (const Path& path : paths) {
            const int leaves = static_cast<int>(path.stack.size()) - path.taken;
            if (net && *net != leaves) throw Unknowable{};
            net = leaves;
            in = std::max(in, path.taken);
        }
        return Effect::of(in, in + *net);
    }

    // Runs a list that is known on `path`, in place.
    std::vector<Path> run(Path path, const std::shared_ptr<const Tokens>& tokens, int depth) {
        if (!tokens) throw Unknowable{};
        std::vector<Path> paths;
        paths.push_back(std::move(path));
        return list(std::move(paths), *tokens, depth + 1);
    }

    // The effect of a list run as a whole, elsewhere: a loop's body.
    Effect whole(const std::shared_ptr<const Tokens>& list) {
        if (!list) throw Unknowable{};
        const ListEffect effect = effects_.of_list(*list);
        take_names(effect);
        leaves_open = leaves_open || effect.leaves_open;
        if (effect.effect.kind == Effect::Kind::unknown) throw Unknowable{};
        return effect.effect;
    }

    void step(Path path, const Meaning& meaning, const Builtin* row, int depth,
              std::vector<Path>& next) {
        if (++effects_.steps_ > most_steps) throw Unknowable{};
        switch (meaning.kind) {
            case Meaning::Kind::number: {
                Value value = fresh();
                value.number = meaning.number;
                assume(path, value, meaning.number != 0);
                path.stack.push_back(value);
                next.push_back(std::move(path));
                return;
            }
            case Meaning::Kind::none:
                throw Unknowable{};  // fails: nothing after it runs
            case Meaning::Kind::sigil:
                sigil(std::move(path), *meaning.token, row, next);
                return;
            case Meaning::Kind::word:
                break;
        }
        if (row == nullptr) {
            call(std::move(path), *meaning.word, *meaning.token, next);
            return;
        }
        switch (row->kind) {
            case Kind::shuffle: {
                std::vector<Value> taken;
                take(path, row->in, &taken);
                for (const int from : shuffle_of(*row)->from) path.stack.push_back(taken[static_cast<std::size_t>(from)]);
                break;
            }
            case Kind::unary:
                if (row_number(*row) == Row::logical_not) {
                    std::vector<Value> taken;
                    take(path, 1, &taken);
                    path.stack.push_back({taken[0].id, !taken[0].negated, std::nullopt});
                    break;
                }
                apply(path, Effect::of(row->in, row->out));
                break;
            case Kind::binary:
            case Kind::binary2:
            case Kind::pop:
            case Kind::effect:
                if (row->closer.empty() && is_closer(row->name)) path.quotation = nullptr;  // ] or } alone
                if (row_number(*row) == Row::while_loop || row_number(*row) == Row::until_loop) {
                    path.loop_body = path.quotation;
                    const Value stop = fresh();
                    assume(path, stop, row_number(*row) == Row::until_loop);
                    path.stack.push_back(stop);
                    break;
                }
                apply(path, Effect::of(row->in, row->out));
                break;
            case Kind::change:  // ; alone: defines what the text register names
                anything = true;
                break;
            case Kind::control:
                control(std::move(path), *row, depth, next);
                return;
            default:
                throw Unknowable{};
        }
        next.push_back(std::move(path));
    }

    // The passes of times for a count written in the list, if few.
    static std::optional<int> written_passes(const Value& count) {
        constexpr std::int32_t most_unrolled = 64;
        if (!count.number) return std::nullopt;
        const std::int32_t passes = truncate_to_int32(*count.number).value_or(0);  // as times takes it
        if (passes > most_unrolled) return std::nullopt;
        return std::max<std::int32_t>(passes, 0);
    }

    void sigil(Path path, const std::string& token, const Builtin* row, std::vector<Path>& next) {
        if (row == nullptr) throw Unknowable{};
        switch (row->kind) {
            case Kind::variable_sigil:
                take(path, 1);
                break;
            case Kind::fetch_sigil:
                path.stack.push_back(fresh());
                break;
            default:
                switch (row_number(*row)) {
                    case Row::quote_word: {
                        Word* const word = find_word(effects_.reading_, token.substr(1));
                        if (word == nullptr) throw Unknowable{};
                        const auto* user_word = word->target<UserWord>();
                        path.quotation = user_word != nullptr ? effects_.tokens_of(user_word->body)
                                                              : std::make_shared<const Tokens>(Tokens{token.substr(1)});
                        break;
                    }
                    case Row::show_definition:
                        break;
                    default:  // @name, /name
                        named.push_back(token.substr(1));
                        break;
                }
        }
        next.push_back(std::move(path));
    }

    void call(Path path, forth::Word& word, const std::string& name, std::vector<Path>& next) {
        ListEffect effect;
        if (const auto* user_word = word.target<UserWord>()) {
            effect = effects_.word_effect(user_word->body);
        } else if (name == ".buffer" || name == ".input") {
            effect.effect = Effect::of(0, 0);  // they print
        } else {
            if (name != "bye" && name != "clear") anything = true;  // included, an embedder's word
            throw Unknowable{};
        }
        take_names(effect);
        leaves_open = leaves_open || effect.leaves_open;
        if (effect.effect.kind == Effect::Kind::unknown) throw Unknowable{};
        if (effect.effect.kind == Effect::Kind::never) return;
        if (effect.quotes) path.quotation = path.loop_body = nullptr;
        apply(path, effect.effect);
        next.push_back(std::move(path));
    }

    void control(Path path, const Builtin& row, int depth, std::vector<Path>& next) {
        const auto keep = [&](std::vector<Path> ways) {
            for (Path& way : ways) next.push_back(std::move(way));
        };
        switch (row_number(row)) {
            case Row::iftrue:
            case Row::iffalse: {
                std::vector<Value> flag;
                take(path, 1, &flag);
                const bool runs_when = row_number(row) == Row::iftrue;
                const std::shared_ptr<const Tokens> list = path.quotation;
                const std::optional<bool> truth = truth_of(path, flag[0]);
                if (!truth || *truth == runs_when) {
                    Path runs = path;
                    if (!truth) assume(runs, flag[0], runs_when);
                    keep(run(std::move(runs), list, depth));
                }
                if (!truth || *truth != runs_when) {
                    if (!truth) assume(path, flag[0], !runs_when);
                    next.push_back(std::move(path));
                }
                return;
            }
            case Row::execute: {
                const std::shared_ptr<const Tokens> list = path.quotation;
                keep(run(std::move(path), list, depth));
                return;
            }
            case Row::times: {
                std::vector<Value> count;
                take(path, 1, &count);
                const Effect body = whole(path.quotation);
                path.quotation = nullptr;
                // A count written in the list: so many passes, whatever each leaves.
                if (const std::optional<int> passes = written_passes(count[0])) {
                    if (*passes > 0 && body.kind == Effect::Kind::never) return;
                    for (int pass = 0; pass < *passes; ++pass) apply(path, body);
                    break;
                }
                if (body.kind == Effect::Kind::never) break;  // only no passes return
                if (!body.balanced()) throw Unknowable{};
                apply(path, body);
                break;
            }
            case Row::repeat: {
                take(path, 1);
                const Effect pass = then(then(whole(path.loop_body), whole(path.quotation)), Effect::of(1, 0));
                path.quotation = nullptr;
                if (pass.kind == Effect::Kind::never) return;  // the body runs at least once
                if (!pass.balanced()) throw Unknowable{};
                apply(path, pass);
                break;
            }
            default:  // interpret: the input decides
                anything = true;
                throw Unknowable{};
        }
        next.push_back(std::move(path));
    }

private:
    Effects& effects_;
};

namespace {

// Whether running a list may set the quotation or the loop's body, as far
// as its own tokens tell.
bool quotes(const Tokens& tokens) {
    return std::any_of(tokens.begin(), tokens.end(), [](const std::string& token) {
        return token == "]" || token == "}" || token == "while" || token == "until" || token.starts_with('\'');
    });
}

}  // namespace

Effects::Effects(Context& reading) : reading_(reading), lowest_used_(std::numeric_limits<std::size_t>::max()) {}
Effects::~Effects() = default;

std::shared_ptr<const Tokens> Effects::tokens_of(const TokenList& list) {
    auto tokens = std::make_shared<Tokens>();
    tokens->reserve(list.size());
    for (const std::string_view token : list) tokens->emplace_back(token);
    return tokens;
}

ListEffect Effects::of_list(const Tokens& tokens) {
    Walker walker(*this);
    ListEffect result;
    try {
        std::vector<Path> paths(1);
        result.effect = Walker::summary(walker.list(std::move(paths), tokens, 0));
    } catch (const Unknowable&) {
        result.effect = Effect::unknown();
    }
    result.names = std::move(walker.named);
    result.anything = walker.anything;
    result.leaves_open = walker.leaves_open;
    result.quotes = quotes(tokens);
    return result;
}

ListEffect Effects::word_effect(const TokenList& body) {
    if (generation_ != reading_.runtime.generation) {
        done_.clear();
        generation_ = reading_.runtime.generation;
    }
    const ListNode* const node = body.node();
    if (const auto done = done_.find(node); done != done_.end()) return done->second;
    for (std::size_t level = 0; level < in_progress_.size(); ++level) {
        if (in_progress_[level]->body != node) continue;
        // A call of a word still being worked out: its guess for now.
        in_progress_[level]->recursive = true;
        lowest_used_ = std::min(lowest_used_, level);
        ListEffect guess;
        guess.effect = in_progress_[level]->guess;
        return guess;
    }
    const std::size_t level = in_progress_.size();
    in_progress_.push_back(std::make_unique<Pending>(Pending{node}));
    const std::size_t outer_used = lowest_used_;
    const std::shared_ptr<const Tokens> tokens = tokens_of(body);
    ListEffect result;
    std::size_t used = std::numeric_limits<std::size_t>::max();
    // From "never returns", each round runs the body on the last round's
    // guess, until the guess holds. A body whose guess keeps growing has
    // no effect to find.
    for (int round = 0;; ++round) {
        lowest_used_ = std::numeric_limits<std::size_t>::max();
        result = of_list(*tokens);
        used = std::min(used, lowest_used_);
        Pending& word = *in_progress_[level];
        if (!word.recursive || result.effect == word.guess || (!result.effect.known() && result.effect.kind != Effect::Kind::never)) break;
        if (round == most_rounds) {
            result.effect = Effect::unknown();
            break;
        }
        word.guess = result.effect;
    }
    in_progress_.pop_back();
    // A result that rests on the guess of a word further out is redone
    // once that word is known.
    if (used < level) {
        lowest_used_ = std::min(outer_used, used);
    } else {
        lowest_used_ = outer_used;
        done_.emplace(node, result);
    }
    return result;
}

ListEffect Effects::of_word(const std::string& name) {
    forth::Word* const word = find_word(reading_, name);
    if (word == nullptr) {
        ListEffect none;
        none.effect = Effect::unknown();
        return none;
    }
    if (const auto* user_word = word->target<UserWord>()) return word_effect(user_word->body);
    Tokens tokens{name};
    return of_list(tokens);
}

std::optional<int> Effects::fixed_take(const std::string& token) {
    const Meaning meaning = meaning_of(reading_, token, true);
    switch (meaning.kind) {
        case Meaning::Kind::number:
            return 0;
        case Meaning::Kind::sigil: {
            const Builtin* row = row_of(*meaning.handler);
            if (row == nullptr) return std::nullopt;
            if (row->kind == Kind::variable_sigil) return 1;
            return 0;
        }
        case Meaning::Kind::word: {
            const Builtin* row = row_of(*meaning.word);
            if (row == nullptr || row->kind == Kind::control) return std::nullopt;
            return row->in;
        }
        case Meaning::Kind::none:
            return std::nullopt;
    }
    return std::nullopt;
}

Effects::Top::Top(Effects& effects) : effects_(effects), paths_(1) {}
Effects::Top::~Top() = default;

void Effects::Top::step(const std::string& token) {
    last = {};
    last.effect = Effect::unknown();  // until the walk ends
    if (!known_) return;
    Walker walker(effects_);
    try {
        const Meaning meaning = meaning_of(effects_.reading_, token, true);
        const Builtin* row = meaning.kind == Meaning::Kind::word    ? row_of(*meaning.word)
                             : meaning.kind == Meaning::Kind::sigil ? row_of(*meaning.handler)
                                                                    : nullptr;
        std::vector<Path> next;
        for (Path& path : paths_) walker.step(std::move(path), meaning, row, 0, next);
        paths_ = Walker::merge(std::move(next));
        last.effect = Effect::of(0, 0);
    } catch (const Unknowable&) {
        known_ = false;
        last.effect = Effect::unknown();
    }
    last.names = std::move(walker.named);
    last.anything = walker.anything;
    last.leaves_open = walker.leaves_open;
    // Taken from below the text: an underflow, maybe.
    if (std::any_of(paths_.begin(), paths_.end(), [](const Path& path) { return path.taken > 0; })) known_ = false;
    if (paths_.empty()) known_ = false;  // nothing after runs
}

void Effects::Top::closed_list(const TokenList& list) {
    const std::shared_ptr<const Tokens> tokens = effects_.tokens_of(list);
    for (Path& path : paths_) path.quotation = tokens;
}

std::optional<std::size_t> Effects::Top::depth() const {
    if (!known_ || paths_.empty()) return std::nullopt;
    const std::size_t depth = paths_.front().stack.size();
    for (const Path& path : paths_)
        if (path.stack.size() != depth) return std::nullopt;
    return depth;
}

}  // namespace forth::lsp
