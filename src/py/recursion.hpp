// The interpreter's recursion check around recursion that follows user data.
#pragma once

#include "py/ref.hpp"

namespace py {

// From CPython 3.12 on, the interpreter's limit on native recursion no longer
// follows sys.getrecursionlimit() and can allow more levels than a thread's
// stack holds for our frames. The guard therefore also counts its own levels
// against sys.getrecursionlimit(), as 3.11 does, and refuses to go on once the
// thread's own stack is nearly spent.
bool native_stack_nearly_exhausted();
[[noreturn]] void raise_native_stack_exhausted(const char* where);
extern thread_local int native_depth;

class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) {
        if (native_depth >= Py_GetRecursionLimit() || native_stack_nearly_exhausted()) {
            raise_native_stack_exhausted(where);
        }
        if (Py_EnterRecursiveCall(where)) throw Err{};
        ++native_depth;
    }
    ~RecursionGuard() {
        --native_depth;
        Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

}  // namespace py
