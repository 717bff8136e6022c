// What happens to our frames when a thread is ended from under them.
#pragma once

namespace py {

// Registers the exit hook, one of the interpreter's atexit functions: from
// then on a thread the interpreter ends is parked (see thread_exit.cpp), and
// `at_exit` runs once, with the interpreter lock held, while references can
// still be dropped (daemon threads may still run then). Call once per
// interpreter, at module init (throws Err).
void watch_interpreter_exit(void (*at_exit)() noexcept);
// True from the exit hook on, for the rest of the process: the module is
// set up once per process, so nothing registers the hook again.
bool interpreter_exiting() noexcept;

}  // namespace py
