#include "core/retired.hpp"

#include <utility>
#include <vector>

namespace forth {

namespace {

// Deleting a list lets go of the lists its code holds, which may let go of
// more, down a chain of any length. Each waits its turn on a list linked
// through the lists themselves, so freeing takes constant machine stack
// and allocates nothing.
void delete_in_turn(ListNode* node) {
    static ListNode* doomed = nullptr;
    static bool deleting = false;
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

struct RetiredLists {
    std::size_t keepers = 0;
    std::vector<ListNode*> lists;
    std::vector<std::unique_ptr<Compiled>> forms;

    void empty() {
        // Deleting a list may dispose of others it held: take them in turns.
        while (!lists.empty() || !forms.empty()) {
            std::vector<ListNode*> gone_lists = std::exchange(lists, {});
            std::vector<std::unique_ptr<Compiled>> gone_forms = std::exchange(forms, {});
            for (ListNode* list : gone_lists) {
                if (list->references == 0)
                    delete_in_turn(list);
                else
                    list->retired = false;
            }
        }
    }
};

// A plain static: the evaluator reaches it at every run.
RetiredLists retired_lists;

RetiredLists& retired() { return retired_lists; }

}  // namespace

KeepRetired::KeepRetired() { ++retired().keepers; }

KeepRetired::~KeepRetired() {
    RetiredLists& lists = retired();
    if (--lists.keepers == 0) lists.empty();
}

void dispose(ListNode* node) {
    RetiredLists& lists = retired();
    if (lists.keepers == 0) {
        delete_in_turn(node);
    } else if (!node->retired) {
        node->retired = true;
        lists.lists.push_back(node);
    }
}

void retire(std::unique_ptr<Compiled> form) {
    RetiredLists& lists = retired();
    if (lists.keepers != 0) lists.forms.push_back(std::move(form));
}

std::size_t retired_count() { return retired().lists.size() + retired().forms.size(); }

void sweep_retired(bool (*in_use)(const void* object, void* state), void* state) {
    RetiredLists& lists = retired();
    std::vector<ListNode*> kept_lists;
    std::vector<ListNode*> gone_lists;
    for (ListNode* list : lists.lists) {
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
    for (auto& form : lists.forms) (in_use(form.get(), state) ? kept_forms : gone_forms).push_back(std::move(form));
    lists.lists = std::move(kept_lists);
    lists.forms = std::move(kept_forms);
    // Deleted last: what they held may be disposed of onto the lists.
    gone_forms.clear();
    for (ListNode* list : gone_lists) delete list;
}

}  // namespace forth
