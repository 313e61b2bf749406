// Writes what a fuzzing run starts from, taken from the program itself so it
// follows the vocabulary and the self-test: one seed file per self-test line
// into SEED_DIR, and a libFuzzer dictionary of every word, sigil and alias
// name into DICTIONARY.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "app/shell_words.hpp"
#include "app/texts.hpp"
#include "engine/evaluate.hpp"

namespace tolva_fuzz {

namespace {

// A dictionary entry: the text in double quotes, with \ and " escaped.
std::string dictionary_entry(std::string_view text) {
    std::string entry = "\"";
    for (const char character : text) {
        if (character == '\\' || character == '"') entry += '\\';
        entry += character;
    }
    return entry + '"';
}

bool write_seeds(const std::filesystem::path& directory) {
    int number = 0;
    for (const std::string_view line : forth::test_lines) {
        std::ofstream seed(directory / ("self-test-" + std::to_string(++number) + ".tv"));
        if (!(seed << line << '\n')) return false;
    }
    return true;
}

// Names are followed by a blank, since a token needs white space after it;
// a sigil character is written alone, as the start of a token.
bool write_dictionary(const std::filesystem::path& file) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    std::ofstream dictionary(file);
    for (const auto& word : ctx.words) dictionary << dictionary_entry(word.first + ' ') << '\n';
    for (const auto& alias : ctx.aliases) dictionary << dictionary_entry(alias.first + ' ') << '\n';
    for (const auto& sigil : ctx.sigils) dictionary << dictionary_entry(std::string(1, sigil.first)) << '\n';
    return static_cast<bool>(dictionary.flush());
}

}  // namespace

}  // namespace tolva_fuzz

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::cerr << "Usage: " << argv[0] << " SEED_DIR DICTIONARY\n";
        return 1;
    }
    if (!tolva_fuzz::write_seeds(argv[1]) || !tolva_fuzz::write_dictionary(argv[2])) {
        std::cerr << argv[0] << ": cannot write the seeds or the dictionary\n";
        return 1;
    }
    return 0;
}
