#include "core/retired.hpp"

#include <cassert>
#include <utility>

namespace forth {

namespace {

// The retired lists of the Context running on this thread, if any. Only
// the runs on this thread set it: a Context may run on one thread after
// another, and what its runs let go waits on its own lists.
thread_local RetiredLists* running = nullptr;

// Deleting a list lets go of the lists its code holds, which may let go of
// more, down a chain of any length. Each waits its turn on a list linked
// through the lists themselves, so freeing takes constant machine stack
// and allocates nothing. The chain is this thread's: it is empty again
// before the deletion that began it returns.
thread_local ListNode* doomed = nullptr;
thread_local bool deleting = false;

void delete_in_turn(ListNode* node) {
    node->next_doomed = doomed;
    doomed = node;
    if (deleting) return;
    deleting = true;
    while (doomed != nullptr) {
        ListNode* const next = std::exchange(doomed, doomed->next_doomed);
        delete next;
    }
    deleting = false;
}

}  // namespace

RetiredLists::~RetiredLists() {
    // A Context destroyed while it runs (by a word of its own, or a poll
    // hook) pulls its frames' lists from under them.
    assert(keepers_ == 0 && "a Context destroyed while it runs");
}

void RetiredLists::empty() {
    // Deleting a list may dispose of others it held: take them in turns.
    while (!lists_.empty() || !forms_.empty()) {
        std::vector<ListNode*> gone_lists = std::exchange(lists_, {});
        std::vector<std::unique_ptr<Compiled>> gone_forms = std::exchange(forms_, {});
        for (ListNode* list : gone_lists) {
            if (list->references == 0)
                delete_in_turn(list);
            else
                list->retired = false;
        }
    }
}

KeepRetired::KeepRetired(RetiredLists& lists) : lists_(lists), outer_(std::exchange(running, &lists)) {
    ++lists_.keepers_;
}

KeepRetired::~KeepRetired() {
    if (--lists_.keepers_ == 0) lists_.empty();
    running = outer_;
}

void dispose(ListNode* node) {
    RetiredLists* const lists = running;
    if (lists == nullptr || lists->keepers_ == 0) {
        delete_in_turn(node);
    } else if (!node->retired) {
        node->retired = true;
        lists->lists_.push_back(node);
    }
}

void retire(std::unique_ptr<Compiled> form) {
    RetiredLists* const lists = running;
    if (lists != nullptr && lists->keepers_ != 0) lists->forms_.push_back(std::move(form));
}

void RetiredLists::sweep(bool (*in_use)(const void* object, void* state), void* state) {
    std::vector<ListNode*> kept_lists;
    std::vector<ListNode*> gone_lists;
    for (ListNode* list : lists_) {
        if (list->references != 0) {
            list->retired = false;
        } else if (in_use(list, state) || (list->code && in_use(list->code.get(), state))) {
            kept_lists.push_back(list);
        } else {
            gone_lists.push_back(list);
        }
    }
    std::vector<std::unique_ptr<Compiled>> kept_forms;
    std::vector<std::unique_ptr<Compiled>> gone_forms;
    for (auto& form : forms_) (in_use(form.get(), state) ? kept_forms : gone_forms).push_back(std::move(form));
    lists_ = std::move(kept_lists);
    forms_ = std::move(kept_forms);
    // Deleted last: what they held may be disposed of onto the lists.
    gone_forms.clear();
    for (ListNode* list : gone_lists) delete list;
}

}  // namespace forth
