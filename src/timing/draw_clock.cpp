#include "timing/draw_clock.hpp"

#include "py/py.hpp"

namespace timing {
namespace {
thread_local bool py_clock = false;
thread_local double draw_secs = 0.0;
}  // namespace

bool use_py_clock() { return py_clock; }
void set_use_py_clock(bool v) { py_clock = v; }

double last_draw_secs() { return draw_secs; }
void set_last_draw_secs(double v) { draw_secs = v; }
void add_last_draw_secs(double v) { draw_secs += v; }

double perf_counter() {
    py::ErrorStash keep;  // callable with an error pending
    PyObject* mod = PyImport_ImportModule("time");
    if (!mod) {
        py::discard_error();
        return 0.0;
    }
    PyObject* f = PyObject_GetAttrString(mod, "perf_counter");
    Py_DECREF(mod);
    PyObject* r = f ? PyObject_CallNoArgs(f) : nullptr;
    Py_XDECREF(f);
    double v = r ? PyFloat_AsDouble(r) : -1.0;
    Py_XDECREF(r);
    if (PyErr_Occurred()) {
        py::discard_error();
        return 0.0;
    }
    return v;
}

}  // namespace timing
