// The module's heap types and how names are added to the module.
#pragma once

#include "py/ref.hpp"

namespace py {

// Objects of the module's classes that carry an instance __dict__ start with
// this header. Such a class takes part in cyclic GC, and its tp_traverse and
// tp_clear report and drop the dict; a Python subclass's own slots chain to
// them.
struct DictObject {
    PyObject_HEAD
    PyObject* dict;
};

// Free an object of a heap type: release its type reference as heap types
// must. Call at the end of every tp_dealloc.
void free_object(PyObject* self);

// Cyclic garbage collection. A class whose objects hold references that can
// close a cycle sets Py_TPFLAGS_HAVE_GC and gives a tp_traverse that reports,
// through a Visitor, every reference its object owns. `alloc` tracks such an
// object at once: set its fields before anything that can run Python code
// or make a Python object. Its tp_dealloc starts with `untrack`.
//
// A tp_traverse runs inside a collection: it only reads fields and reports
// them (no allocation, no Python call, no lock).
class Visitor {
public:
    // Reports the object's heap type first: every instance holds a
    // reference to it.
    Visitor(PyObject* self, visitproc visit, void* arg) noexcept : visit_(visit), arg_(arg) {
        (*this)(reinterpret_cast<PyObject*>(Py_TYPE(self)));
    }
    // Reports one reference (nullptr skipped); after a visit failed, nothing.
    void operator()(PyObject* o) noexcept {
        if (o && rc_ == 0) rc_ = visit_(o, arg_);
    }
    void operator()(const Ref& r) noexcept { (*this)(r.get()); }
    // What tp_traverse returns.
    int result() const noexcept { return rc_; }

private:
    visitproc visit_;
    void* arg_;
    int rc_ = 0;
};

// The collector stops seeing the object (safe when it is not tracked).
inline void untrack(PyObject* self) noexcept { PyObject_GC_UnTrack(self); }

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

// Allocate an instance of `type` (tp_alloc); fields zeroed. An object of a
// class that takes part in cyclic GC comes back tracked.
PyObject* alloc(PyTypeObject* type);

// Register the function `def` on `module` under its name and add it to
// __all__.
void add_function(PyObject* module, PyMethodDef* def);
// Add a type object to `module` under `name` and to __all__.
void add_type(PyObject* module, const char* name, PyObject* type);

}  // namespace py
