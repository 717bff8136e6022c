// What happens to our frames when a thread is ended from under them.
#pragma once

namespace py {

// Registers the exit hook after which a thread the interpreter ends is
// parked (see thread_exit.cpp). Call once, at module init (throws Err).
void watch_interpreter_exit();

}  // namespace py
