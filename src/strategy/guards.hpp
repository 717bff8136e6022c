// The per-thread recursion guards of the node queries and type resolution,
// and the nesting depth of Deferred draws.
#pragma once

#include <cstddef>
#include <cstdint>

#include "py/py.hpp"

namespace strategy {

// Per-thread recursion guards: sets of object identities. An entry lives
// only while the call that inserted it runs.
enum class InProgress { DeferredEmpty, DeferredBranches, DeferredReusable, FromType };

bool in_progress(InProgress set, uintptr_t id);
// Inserts; true when the id was not present.
bool insert_in_progress(InProgress set, uintptr_t id);
void remove_in_progress(InProgress set, uintptr_t id);
// Number of entries (for tests).
size_t in_progress_size(InProgress set);

// Scoped entry of a Deferred query: present() answers whether the id was
// already in the set; otherwise the id is inserted and removed on exit.
class DeferredEntry {
public:
    DeferredEntry(InProgress set, PyObject* definition)
        : set_(set), id_(reinterpret_cast<uintptr_t>(definition)),
          present_(!insert_in_progress(set, id_)) {}
    ~DeferredEntry() {
        if (!present_) remove_in_progress(set_, id_);
    }
    bool present() const { return present_; }
    DeferredEntry(const DeferredEntry&) = delete;
    DeferredEntry& operator=(const DeferredEntry&) = delete;

private:
    InProgress set_;
    uintptr_t id_;
    bool present_;
};

// FROM_TYPE_INPROGRESS entry of builds inference and from_type: active when
// the id was not yet present; only an active guard removes it again.
class InProgressGuard {
public:
    static InProgressGuard enter(uintptr_t id) { return InProgressGuard(id); }
    ~InProgressGuard() {
        if (active_) remove_in_progress(InProgress::FromType, id_);
    }
    InProgressGuard(InProgressGuard&& o) noexcept : id_(o.id_), active_(o.active_) { o.active_ = false; }
    InProgressGuard(const InProgressGuard&) = delete;
    InProgressGuard& operator=(const InProgressGuard&) = delete;
    InProgressGuard& operator=(InProgressGuard&&) = delete;
    bool active() const { return active_; }

private:
    explicit InProgressGuard(uintptr_t id)
        : id_(id), active_(insert_in_progress(InProgress::FromType, id)) {}
    uintptr_t id_;
    bool active_;
};

// DEFERRED_DRAW_DEPTH of the calling thread.
uint32_t& deferred_draw_depth();

}  // namespace strategy
