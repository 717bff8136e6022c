#include "py/types.hpp"

#include <structmember.h>

#include "py/convert.hpp"
#include "py/errors.hpp"

namespace py {

void free_object(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    auto f = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    f(self);
    Py_DECREF(reinterpret_cast<PyObject*>(tp));
}

Ref make_type(PyType_Spec* spec, PyObject* base) {
    if (base) {
        Ref bases = tuple_of({base});
        return check(PyType_FromSpecWithBases(spec, bases.get()));
    }
    return check(PyType_FromSpec(spec));
}

PyObject* alloc(PyTypeObject* type) {
    auto a = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* o = a(type, 0);
    if (!o) throw Err{};
    return o;
}

namespace {
void append_all(PyObject* module, const char* name) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw Err{};
        PyErr_Clear();
        all = PyList_New(0);
        if (!all) throw Err{};
        if (PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_DECREF(all);
            throw Err{};
        }
    }
    Ref owned = Ref::steal(all);
    if (!PyList_Check(all)) raise_cannot_convert(all, "PyList");
    Ref n = str(name);
    if (PyList_Append(all, n.get()) < 0) {
        PyErr_Clear();
        throw_fault("could not append __name__ to __all__");
    }
}
}  // namespace

void add_function(PyObject* module, PyMethodDef* def) {
    Ref modname = getattr(module, "__name__");
    Ref f = check(PyCFunction_NewEx(def, module, modname.get()));
    Ref name = getattr(f.get(), "__name__");
    std::string n = utf8(name.get());
    append_all(module, n.c_str());
    check_rc(PyObject_SetAttrString(module, n.c_str(), f.get()));
}

void add_type(PyObject* module, const char* name, PyObject* type) {
    append_all(module, name);
    check_rc(PyObject_SetAttrString(module, name, type));
}

}  // namespace py
