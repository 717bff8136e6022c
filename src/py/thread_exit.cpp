// A thread the interpreter ends while our code is on its stack.
//
// During interpreter shutdown CPython 3.11 to 3.13 end a daemon thread that
// asks for the interpreter lock with pthread_exit, which on glibc is a forced
// unwind of the thread's stack. Through our frames that would run destructors
// that drop references without the lock, and reach catch-all handlers that
// swallow it (glibc then aborts) and noexcept functions (std::terminate).
//
// The module is linked with every reference to the C++ personality routine
// redirected to the wrapper below. The first frame of ours that a forced
// unwind reaches calls it before any of its landing pads runs, and the wrapper
// parks the thread for good instead: nothing of ours is unwound, the thread
// holds no lock, and the process goes on to exit (CPython 3.14 parks such a
// thread the same way). A cancelled thread is parked too: either way the
// thread is being ended, and unwinding our frames without the lock is never
// safe. Every other exception goes to the runtime's routine unchanged.
#include <unwind.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

extern "C" _Unwind_Reason_Code __real___gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class,
                                                           _Unwind_Exception*, _Unwind_Context*);

namespace {

[[noreturn]] void park_thread() noexcept {
    // Signals go to the threads still running; this one never wakes.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) pause();
}

}  // namespace

extern "C" __attribute__((visibility("hidden"))) _Unwind_Reason_Code __wrap___gxx_personality_v0(
    int version, _Unwind_Action actions, _Unwind_Exception_Class exception_class, _Unwind_Exception* exception,
    _Unwind_Context* context) {
    if (actions & _UA_FORCE_UNWIND) park_thread();
    return __real___gxx_personality_v0(version, actions, exception_class, exception, context);
}
