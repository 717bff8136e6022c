// A thread ended while our code is on its stack.
//
// glibc ends a thread by pthread_exit or pthread_cancel with a forced unwind
// of its stack. Running our landing pads in it is never sound: the thread
// need not hold the interpreter lock (cancelled in a blocking call, or
// pthread_exit called through ctypes, which releases it), so destructors
// would drop references without it; and our catch-all handlers at the C API
// boundary would swallow the unwind (glibc then aborts the process) while
// noexcept frames would end in std::terminate. Taking the lock first does not
// help either: the unwind goes on through the interpreter's own frames, which
// never give it back, and the thread would end holding it.
//
// The module is linked with every reference to the C++ personality routine
// redirected to the wrapper below, which each frame of ours consults before
// any of its landing pads runs:
// - While the interpreter shuts down (our atexit hook has run, which is
//   before CPython 3.11 to 3.13 start ending daemon threads that ask for the
//   lock), the thread is parked for good: nothing of ours is unwound, the
//   thread holds no lock, and the process goes on to exit (CPython 3.14
//   parks such a thread the same way).
// - Otherwise the unwind passes our frames without running any of their
//   landing pads, as it passes the interpreter's own C frames, and the
//   thread ends. What those frames held is leaked, as the interpreter leaks
//   the thread's Python frames and thread state.
// Every other exception goes to the runtime's routine unchanged.
//
// Every module built by qf_add_module links this file, so it uses no other
// source of ours.
#include "py/thread_exit.hpp"

#include <unwind.h>

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <unistd.h>

#include "py/ref.hpp"

extern "C" _Unwind_Reason_Code __real___gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class,
                                                           _Unwind_Exception*, _Unwind_Context*);

namespace py {
namespace {

std::atomic<bool> exiting{false};
void (*exit_hook)() noexcept = nullptr;

PyObject* note_exit(PyObject*, PyObject*) {
    exiting.store(true);
    if (exit_hook) exit_hook();
    return Py_NewRef(Py_None);
}

PyMethodDef note_exit_def = {"_note_interpreter_exit", note_exit, METH_NOARGS, nullptr};

[[noreturn]] void park_thread() noexcept {
    // Signals go to the threads still running; this one never wakes.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) pause();
}

}  // namespace

void watch_interpreter_exit(void (*at_exit)() noexcept) {
    Ref hook = check(PyCFunction_New(&note_exit_def, nullptr));
    Ref atexit = check(PyImport_ImportModule("atexit"));
    check(PyObject_CallMethod(atexit.get(), "register", "O", hook.get()));
    exit_hook = at_exit;
    exiting.store(false);
}

bool interpreter_exiting() noexcept { return exiting.load(); }

}  // namespace py

extern "C" __attribute__((visibility("hidden"))) _Unwind_Reason_Code __wrap___gxx_personality_v0(
    int version, _Unwind_Action actions, _Unwind_Exception_Class exception_class, _Unwind_Exception* exception,
    _Unwind_Context* context) {
    if (actions & _UA_FORCE_UNWIND) {
        if (py::exiting.load()) py::park_thread();
        return _URC_CONTINUE_UNWIND;
    }
    return __real___gxx_personality_v0(version, actions, exception_class, exception, context);
}
