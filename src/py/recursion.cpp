#include "py/recursion.hpp"

#include <pthread.h>

#include "py/errors.hpp"

namespace py {

namespace {
// Keep this much of the thread's stack free for the frames that raising and
// unwinding (and the interpreter's own error handling) still need; a quarter
// of a smaller stack.
constexpr uintptr_t STACK_RESERVE = 256 * 1024;

// The lowest usable address of the calling thread's stack (stacks grow
// down), or 0 when the system cannot tell.
uintptr_t stack_floor() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    void* addr = nullptr;
    size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || size == 0) return 0;
    const uintptr_t reserve = size / 4 < STACK_RESERVE ? size / 4 : STACK_RESERVE;
    return reinterpret_cast<uintptr_t>(addr) + reserve;
}
}  // namespace

thread_local int native_depth = 0;

bool native_stack_nearly_exhausted() {
    static thread_local const uintptr_t floor = stack_floor();
    char probe;
    return reinterpret_cast<uintptr_t>(&probe) < floor;
}

void raise_native_stack_exhausted(const char* where) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
    throw Err{};
}

}  // namespace py
