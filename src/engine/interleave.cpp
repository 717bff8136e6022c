#include "engine/interleave.hpp"

#include <time.h>

#include <cstdint>

#include "py/py.hpp"

namespace engine {
namespace {

constexpr int64_t PERIOD_NS = 1000000;

// A cheap monotonic clock: a millisecond-scale period needs no finer one.
int64_t now_ns() {
    timespec ts;
#ifdef CLOCK_MONOTONIC_COARSE
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
#else
    clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A function with Python code: its entry checks the interpreter's pending
// work, which a call of a built-in does not. Made once, kept for the process.
PyObject* noop() {
    static PyObject* fn = nullptr;
    if (!fn) {
        py::Ref globals = py::new_dict();
        py::Ref builtins = py::import("builtins");
        py::dict_set(globals.get(), "__builtins__", builtins.get());
        py::Ref code = py::check(Py_CompileString("lambda: None", "<engine>", Py_eval_input));
        py::Ref made = py::check(PyEval_EvalCode(code.get(), globals.get(), globals.get()));
        if (!fn) fn = made.release();
    }
    return fn;
}

thread_local int64_t next_turn = 0;

}  // namespace

void let_other_threads_run() {
    const int64_t now = now_ns();
    if (now < next_turn) return;
    next_turn = now + PERIOD_NS;
    py::check(PyObject_CallNoArgs(noop()));
}

}  // namespace engine
