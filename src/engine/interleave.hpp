// Sharing the interpreter with other threads during a long native stretch.
#pragma once

namespace engine {

// Called before each example. About once a millisecond of run time it calls
// a Python no-op; on entering it the interpreter does its periodic work:
// hands the lock to a thread that has waited a switch interval for it, runs
// the handlers of pending signals and raises an asynchronous exception set
// for this thread. Throws Err with what was raised (a KeyboardInterrupt, for
// one); otherwise changes nothing.
void let_other_threads_run();

}  // namespace engine
