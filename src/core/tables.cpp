#include "core/tables.hpp"

#include <atomic>
#include <utility>

#include "core/trap.hpp"

namespace forth {

std::uint64_t new_generation() {
    // Shared by every Context, on any thread, so that a list handed from one
    // Context to another never finds its code current there. A change to
    // the tables takes one; no call or pass does.
    static std::atomic<std::uint64_t> last = 0;
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

void underflow(const char* message) { throw std::out_of_range(message); }

namespace {

unsigned char initial(const std::string& name) { return static_cast<unsigned char>(name.c_str()[0]); }

}  // namespace

void note_change(Context& ctx) { note_change(ctx, {}); }

void note_change(Context& ctx, const std::string& name) {
    Runtime& runtime = ctx.runtime;
    constexpr std::size_t changes_kept = 8;
    if (runtime.changes.size() == changes_kept) runtime.changes.pop_front();
    runtime.changes.push_back({runtime.generation, name});
    runtime.generation = new_generation();
    // A name added through define_word adds its bit; anything else the
    // filter does not know of makes it anew.
    if (runtime.words_seen != ctx.words.size() || name.empty()) {
        if (name.empty() || ctx.words.size() != runtime.words_seen + 1) {
            runtime.word_names.reset();
            for (const auto& word : ctx.words) runtime.word_names.set(word_name_bit(name_hash(word.first)));
        }
        runtime.words_seen = ctx.words.size();
    }
    if (!name.empty()) runtime.word_names.set(word_name_bit(name_hash(name)));
    // The same for aliases: one added through define_alias adds its bit,
    // so that adding n one by one stays linear.
    if (runtime.aliases_seen != ctx.aliases.size()) {
        if (name.empty() || ctx.aliases.size() != runtime.aliases_seen + 1 || !ctx.aliases.contains(name)) {
            runtime.alias_initials.reset();
            for (const auto& alias : ctx.aliases) runtime.alias_initials.set(initial(alias.first));
        } else {
            runtime.alias_initials.set(initial(name));
        }
        runtime.aliases_seen = ctx.aliases.size();
    }
    set_trap(ctx.runtime);
}

void define_word(Context& ctx, const std::string& name, Word word) {
    ctx.words[name] = std::move(word);
    note_change(ctx, name);
}

void define_alias(Context& ctx, const std::string& name, std::string replacement) {
    ctx.aliases[name] = std::move(replacement);
    note_change(ctx, name);
}

}  // namespace forth
