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
// The calling thread keeps a pointer to its record, so an access costs no
// dict look-up. Only finalisation (or a fork) clears another thread's state;
// that thread never runs Python code again, so its stale pointer is not read.
template <class Slots>
class StateSlots {
public:
    // `key`: the thread-state dict key, one per kind of record.
    constexpr explicit StateSlots(const char* key) : key_(key) {}
    StateSlots(const StateSlots&) = delete;
    StateSlots& operator=(const StateSlots&) = delete;

    // The calling thread's record, or nullptr when it has none yet.
    Slots* find() const { return mine; }

    // The calling thread's record, made on its first use (throws Err).
    Slots& get() {
        if (mine) return *mine;
        PyObject* dict = PyThreadState_GetDict();  // borrowed
        if (!dict) throw_fault("per-thread state used without a thread state");
        Ref key = check(PyUnicode_FromString(key_));
        if (PyObject* found = PyDict_GetItemWithError(dict, key.get())) {
            if (PyCapsule_IsValid(found, key_)) {
                mine = static_cast<Slots*>(PyCapsule_GetPointer(found, key_));
                return *mine;
            }
        } else if (PyErr_Occurred()) {
            throw Err{};
        }
        auto fresh = std::make_unique<Slots>();
        Slots* s = fresh.get();
        Ref capsule = check(PyCapsule_New(s, key_, &destroy));
        fresh.release();  // the capsule owns it now
        check_rc(PyDict_SetItem(dict, key.get(), capsule.get()));
        mine = s;
        return *s;
    }

private:
    static void destroy(PyObject* capsule) noexcept {
        auto* s = static_cast<Slots*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
        if (!s) return;
        if (mine == s) mine = nullptr;
        delete s;  // drops the record's references; the lock is held here
    }

    const char* key_;
    static inline thread_local Slots* mine = nullptr;
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
