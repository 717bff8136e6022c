// Module entry: PyInit__engine and the registration of every public name.
#include <atomic>

#include "data/record.hpp"
#include "data/tls.hpp"
#include "py/py.hpp"
#include "registry.hpp"
#include "strategy/check_strategy.hpp"
#include "strategy/object.hpp"

namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_engine", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<int64_t> interpreter_id{-1};
PyObject* module_cell = nullptr;

// Adds the names in their fixed order; stops at the first failure.
void module_body(PyObject* m) {
    reg::float_functions(m);          // float_to_lex, lex_to_float, is_simple
    reg::interval_set_classes(m);     // IntervalSet, IntervalSetIter
    reg::choice_functions(m);         // zigzag_index ... choice_equal
    reg::statistics_functions(m);     // stdtr ... integers_dist_inverse_cdf
    reg::record_class(m);             // BrindlemarData
    data::register_cache_functions(m);
    reg::strategy_classes(m);         // SearchStrategy ... MappedStrategy
    reg::strategy_functions(m);       // integers ... _regex_alphabet_intervals
    reg::engine(m);                   // run_native ... minimal_choices
    reg::database(m);                 // choices_to_bytes, choices_from_bytes, InMemoryExampleDatabase
    reg::stateful(m);                 // StatefulRunner
}

PyObject* init() {
    PyInterpreterState* interp = PyInterpreterState_Get();
    int64_t id = PyInterpreterState_GetID(interp);
    if (id == -1) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        return nullptr;
    }
    int64_t expected = -1;
    if (!interpreter_id.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "quorvantis_fast._engine: we do not yet support subinterpreters; "
                        "import the module in the main interpreter only");
        return nullptr;
    }
    if (module_cell) return py::Ref::borrow(module_cell).release();
    data::install_native_strategy_draw({strategy::search_strategy_type_or_null, strategy::draw_native,
                                        strategy::is_native_child, strategy::check_foreign_strategy});
    return py::guard(nullptr, [&]() -> PyObject* {
        py::Ref m = py::check(PyModule_Create(&module_def));
        module_body(m.get());
        py::watch_interpreter_exit(py::forget_optional_modules);
        py::note_missing_package("quorvantis");  // the upstream library, when not installed
        module_cell = m.newref();
        return m.release();
    });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__engine(void) { return init(); }
