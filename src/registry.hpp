// The registration steps of the module body, one function per step, each
// defined by the subsystem that owns the names.
#pragma once

#include "py/py.hpp"

namespace reg {
void float_functions(PyObject* m);
void interval_set_classes(PyObject* m);
void choice_functions(PyObject* m);
void statistics_functions(PyObject* m);
void record_class(PyObject* m);
void strategy_classes(PyObject* m);
void strategy_functions(PyObject* m);
void engine(PyObject* m);
void database(PyObject* m);
void stateful(PyObject* m);
}  // namespace reg
