#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "core/token_list.hpp"

// Lists and compiled forms whose last owner went while code was running.
// The evaluator's frames point at the lists they run and the forms they
// run them by without owning them, which keeps calls cheap; so nothing
// they may point at is deleted while the evaluator runs. It goes on the
// retired lists of the Context running instead, which are emptied when it
// stops, and swept of what its frames do not use when they grow long.
namespace forth {

// One Context's waiting lists and forms (Context::retired).
class RetiredLists {
public:
    RetiredLists() = default;
    ~RetiredLists();
    RetiredLists(const RetiredLists&) = delete;
    RetiredLists& operator=(const RetiredLists&) = delete;

    // How many lists and forms wait.
    std::size_t size() const { return lists_.size() + forms_.size(); }

    // Deletes the waiting lists and forms for which `in_use` is false; a
    // list is in use when it or its compiled form is. A list that was given
    // a reference again is taken off the lists.
    void sweep(bool (*in_use)(const void* object, void* state), void* state);

private:
    friend class KeepRetired;
    friend void dispose(ListNode* node);
    friend void retire(std::unique_ptr<Compiled> form);
    void empty();

    std::size_t keepers_ = 0;  // the KeepRetired alive: runs of the evaluator
    std::vector<ListNode*> lists_;
    std::vector<std::unique_ptr<Compiled>> forms_;
};

// While one lives, anything disposed of or retired on this thread waits on
// `lists`, the lists of the Context that runs. A list is disposed of
// where its last reference goes, with no Context at hand: the Context
// running on the thread is the one whose code let it go.
class KeepRetired {
public:
    explicit KeepRetired(RetiredLists& lists);
    ~KeepRetired();
    KeepRetired(const KeepRetired&) = delete;
    KeepRetired& operator=(const KeepRetired&) = delete;

private:
    RetiredLists& lists_;
    RetiredLists* outer_;  // of a Context that native code of it runs in turn
};

// Deletes `form` now, or keeps it until no KeepRetired lives.
void retire(std::unique_ptr<Compiled> form);

}  // namespace forth
