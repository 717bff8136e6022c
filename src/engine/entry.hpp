// The engine's Python entry points, gathered into the module by the
// engine's registration step.
#pragma once

#include "py/py.hpp"

namespace engine::entry {
PyObject* run_native(QF_FASTCALL_ARGS);
PyObject* reproduce_native(QF_FASTCALL_ARGS);
PyObject* draw_secs(PyObject* self, PyObject* unused);
PyObject* set_use_py_clock(QF_FASTCALL_ARGS);
}  // namespace engine::entry
