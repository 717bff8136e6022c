// Per-thread slot records: the state a subsystem keeps per thread, borrowed
// for the instant of one read, write or exchange.
#pragma once

#include <memory>

#include "py/py.hpp"

namespace py {

// The flag every slot record carries (derive the record from this).
struct SlotFlags {
    bool busy = false;  // a slot operation is in progress on this thread
};

// One slot record per Python thread state. The record belongs to a capsule
// in the thread state's dict, so the interpreter destroys it when it clears
// that thread state: on the thread itself as the thread ends, or while the
// interpreter finalises, with the interpreter lock held either way. Nothing
// is left for the OS thread's exit, where taking the interpreter lock can end
// the thread in the middle of a destructor.
//
// The calling thread keeps a pointer to the record of its current thread
// state, beside that state's id, so an access costs no dict look-up. An OS
// thread can run under several thread states in turn, and a thread state can
// be cleared from another thread (finalisation, or an embedding application
// that manages thread states itself), which cannot reach this thread's
// pointer; so the pointer is used only while the id matches, and ids are never
// reused.
template <class Slots>
class StateSlots {
public:
    // `key`: the thread-state dict key, one per kind of record.
    constexpr explicit StateSlots(const char* key) : key_(key) {}
    StateSlots(const StateSlots&) = delete;
    StateSlots& operator=(const StateSlots&) = delete;

    // The calling thread's record, or nullptr when it has none yet (throws Err).
    Slots* find() const { return lookup(false); }

    // The calling thread's record, made on its first use (throws Err).
    Slots& get() { return *lookup(true); }

private:
    struct Cached {
        uint64_t owner = 0;  // the id of the thread state the record belongs to
        Slots* slots = nullptr;
    };

    Slots* lookup(bool make) const {
        uint64_t owner = PyThreadState_GetID(PyThreadState_Get());
        Cached& cached = mine;
        if (cached.slots && cached.owner == owner) return cached.slots;
        PyObject* dict = PyThreadState_GetDict();  // borrowed
        if (!dict) throw_fault("per-thread state used without a thread state");
        Ref key = check(PyUnicode_FromString(key_));
        Slots* s = nullptr;
        if (PyObject* found = PyDict_GetItemWithError(dict, key.get())) {
            if (PyCapsule_IsValid(found, key_)) s = static_cast<Slots*>(PyCapsule_GetPointer(found, key_));
        } else if (PyErr_Occurred()) {
            throw Err{};
        }
        if (!s && make) {
            auto fresh = std::make_unique<Slots>();
            Ref capsule = check(PyCapsule_New(fresh.get(), key_, &destroy));
            s = fresh.release();  // the capsule owns it now
            check_rc(PyDict_SetItem(dict, key.get(), capsule.get()));
        }
        if (s) cached = {owner, s};
        return s;
    }

    static void destroy(PyObject* capsule) noexcept {
        auto* s = static_cast<Slots*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
        if (!s) return;
        if (mine.slots == s) mine = {};
        delete s;  // drops the record's references; the lock is held here
    }

    const char* key_;
    static inline thread_local Cached mine;
};

// Holds one thread's slot record for one operation. A second hold on the
// same thread (an operation re-entered through Python code) is a broken
// invariant.
template <class Slots>
class SlotHold {
public:
    SlotHold(Slots& slots, const char* borrowed) : slots_(slots) {
        if (slots_.busy) throw_fault(borrowed);
        slots_.busy = true;
    }
    ~SlotHold() { slots_.busy = false; }
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;

    Slots* operator->() const { return &slots_; }
    Slots& operator*() const { return slots_; }

private:
    Slots& slots_;
};

}  // namespace py
