// The per-thread recursion guards of the node queries and type resolution,
// and the nesting depth of Deferred draws.
#include "strategy/guards.hpp"

#include <unordered_set>

#include "strategy/object.hpp"

namespace strategy {
namespace {

struct GuardSets {
    // DEFERRED_EMPTY_INPROGRESS, DEFERRED_BRANCHES_INPROGRESS,
    // DEFERRED_REUSABLE_INPROGRESS, FROM_TYPE_INPROGRESS
    std::unordered_set<uintptr_t> sets[4];
};

std::unordered_set<uintptr_t>& set_of(InProgress which) {
    thread_local GuardSets guards;
    return guards.sets[static_cast<int>(which)];
}

thread_local uint32_t DEFERRED_DRAW_DEPTH = 0;

}  // namespace

bool in_progress(InProgress which, uintptr_t id) { return set_of(which).count(id) != 0; }
bool insert_in_progress(InProgress which, uintptr_t id) { return set_of(which).insert(id).second; }
void remove_in_progress(InProgress which, uintptr_t id) { set_of(which).erase(id); }
size_t in_progress_size(InProgress which) { return set_of(which).size(); }

uint32_t& deferred_draw_depth() { return DEFERRED_DRAW_DEPTH; }

}  // namespace strategy
