// The module's heap types and how names are added to the module.
#pragma once

#include "py/ref.hpp"

namespace py {

// Objects of the module's classes that carry an instance __dict__ start with
// this header. They never take part in cyclic GC (a Python subclass is GC
// tracked by CPython; the base's dealloc copes with that).
struct DictObject {
    PyObject_HEAD
    PyObject* dict;
};

// Free an object of a heap type: release its type reference as heap types
// must. Call at the end of every tp_dealloc.
void free_object(PyObject* self);

// Create a heap type from a spec, optionally with a base.
Ref make_type(PyType_Spec* spec, PyObject* base = nullptr);

// A class made once per process, kept in `cell` (a function-local static):
// the first call that succeeds stores the type object `make()` returns (a
// py::Ref) for the life of the process; a failed call stores nothing and
// throws, so the next call tries again. Returns the type, borrowed.
template <class Make> PyTypeObject* type_once(PyObject*& cell, Make&& make) {
    if (!cell) cell = make().release();
    return reinterpret_cast<PyTypeObject*>(cell);
}
inline PyTypeObject* type_once(PyObject*& cell, PyType_Spec* spec) {
    return type_once(cell, [spec] { return make_type(spec); });
}

// Allocate an instance of `type` (tp_alloc); fields zeroed.
PyObject* alloc(PyTypeObject* type);

// Register the function `def` on `module` under its name and add it to
// __all__.
void add_function(PyObject* module, PyMethodDef* def);
// Add a type object to `module` under `name` and to __all__.
void add_type(PyObject* module, const char* name, PyObject* type);

}  // namespace py
