#pragma once

#include <cstddef>
#include <memory>

#include "core/token_list.hpp"

// Lists and compiled forms whose last owner went while code was running.
// The evaluator's frames point at the lists they run and the forms they
// run them by without owning them, which keeps calls cheap; so nothing
// they may point at is deleted while the evaluator runs. It goes on the
// retired lists instead, which are emptied when the evaluator stops, and
// swept of what no frame uses when they grow long.
namespace forth {

// While one lives, anything disposed of or retired waits on the lists.
class KeepRetired {
public:
    KeepRetired();
    ~KeepRetired();
    KeepRetired(const KeepRetired&) = delete;
    KeepRetired& operator=(const KeepRetired&) = delete;
};

// Deletes `form` now, or keeps it until no KeepRetired lives.
void retire(std::unique_ptr<Compiled> form);

// How many lists and forms wait.
std::size_t retired_count();

// Deletes the waiting lists and forms for which `in_use` is false; a list
// is in use when it or its compiled form is. A list that was given a
// reference again is taken off the lists.
void sweep_retired(bool (*in_use)(const void* object, void* state), void* state);

}  // namespace forth
