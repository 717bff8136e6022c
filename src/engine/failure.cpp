#include "engine/failure.hpp"

namespace engine {

Origin origin_of(PyObject* exc) {
    Origin o;
    o.name = py::type_name(exc);
    PyObject* tb = PyObject_GetAttrString(exc, "__traceback__");
    if (!tb) {
        PyErr_Clear();
        return o;
    }
    py::Ref cur = py::Ref::steal(tb);
    while (cur && cur.get() != Py_None) {
        PyObject* ln = PyObject_GetAttrString(cur.get(), "tb_lineno");
        if (ln) {
            long long v = PyLong_AsLongLong(ln);
            Py_DECREF(ln);
            if (v == -1 && PyErr_Occurred()) PyErr_Clear();
            else o.line = v;
        } else {
            PyErr_Clear();
        }
        PyObject* next = PyObject_GetAttrString(cur.get(), "tb_next");
        if (!next) {
            PyErr_Clear();
            break;
        }
        cur = py::Ref::steal(next);
    }
    return o;
}

}  // namespace engine
