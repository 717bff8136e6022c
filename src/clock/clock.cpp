#include "clock/clock.hpp"

namespace engine {

double perf_counter() {
    py::ErrorStash keep;  // callable with an error pending
    PyObject* mod = PyImport_ImportModule("time");
    if (!mod) {
        PyErr_Clear();
        return 0.0;
    }
    PyObject* f = PyObject_GetAttrString(mod, "perf_counter");
    Py_DECREF(mod);
    PyObject* r = f ? PyObject_CallNoArgs(f) : nullptr;
    Py_XDECREF(f);
    double v = r ? PyFloat_AsDouble(r) : -1.0;
    Py_XDECREF(r);
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return 0.0;
    }
    return v;
}

}  // namespace engine
