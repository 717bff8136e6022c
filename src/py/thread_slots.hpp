// Per-thread slot records: the state a subsystem keeps per thread, borrowed
// for the instant of one read, write or exchange.
#pragma once

#include "py/py.hpp"

namespace py {

// The flags every slot record carries (derive the record from this).
struct SlotFlags {
    bool busy = false;  // a slot operation is in progress on this thread
    bool dead = false;  // torn down with its thread
};

// Holds one thread's slot record for one operation. A second hold on the
// same thread (an operation re-entered through Python code) and a hold after
// the thread's teardown destroyed the record are broken invariants.
template <class Slots>
class SlotHold {
public:
    SlotHold(Slots& slots, const char* torn_down, const char* borrowed) : slots_(slots) {
        if (slots_.dead) throw_fault(torn_down);
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
