// The engine's registration step, in the module's fixed order.
#include "engine/entry.hpp"
#include "engine/shrink_report.hpp"
#include "registry.hpp"

namespace reg {
namespace {

PyMethodDef defs[] = {
    {"run_native", QF_FASTCALL(engine::entry::run_native), METH_FASTCALL | METH_KEYWORDS,
     "run_native(test, strategies, max_examples=100, seed=0, database=None, db_key=None, "
     "report_multiple_bugs=False, names=None, executor=None, suppress_health_check=None, "
     "invalid_cap=0, test_name=None, deadline_ms=0.0, max_shrinks=500)\n--\n\n"
     "Run `test(*args)` over examples drawn from `strategies`. Returns None if all\n"
     "pass, else `(shrunk_args_tuple, exception_instance)`. The exception comes from\n"
     "replaying the minimal choice sequence into a FRESH BrindlemarData, so it's the\n"
     "correct shrunk exception even for interactive data() draws."},
    {"reproduce_native", QF_FASTCALL(engine::entry::reproduce_native), METH_FASTCALL | METH_KEYWORDS,
     "reproduce_native(test, strategies, choices, exact=False)\n--\n\n"
     "Replay the exact `choices` through `test` once, for reproducing a reported failure.\n"
     "Returns `(args_tuple, exception)` if the replay reproduces a failure, else None (the\n"
     "test passed, rejected, or the choice shape no longer matches the strategy).\n"
     "With `exact`, a replay whose draws did not take `choices` exactly as given (a value\n"
     "of another kind, outside its draw's constraints or other than the value its draw\n"
     "forces, some left over, or too few for the draws made before the test is called)\n"
     "returns a str that says how instead."},
    {"draw_secs", engine::entry::draw_secs, METH_NOARGS,
     "draw_secs()\n--\n\n"
     "The current example's accumulated draw time in seconds (argument draws and\n"
     "interactive draws); the runner excludes it from the per-example deadline."},
    {"set_use_py_clock", QF_FASTCALL(engine::entry::set_use_py_clock), METH_FASTCALL | METH_KEYWORDS,
     "set_use_py_clock(on)\n--\n\n"
     "Toggle timing by Python's time.perf_counter, which tests can drive: the draws, and\n"
     "how often a shrink replaces the failure it keeps in the database."},
};

}  // namespace

void engine(PyObject* m) {
    for (auto& d : defs) py::add_function(m, &d);
    engine::register_report_functions(m);  // shrink_report, minimal_choices
}
}  // namespace reg
