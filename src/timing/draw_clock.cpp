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
    py::Ref mod = py::Ref::steal(PyImport_ImportModule("time"));
    if (!mod) {
        py::discard_error();
        return 0.0;
    }
    py::Ref f = py::Ref::steal(PyObject_GetAttrString(mod.get(), "perf_counter"));
    py::Ref r = py::Ref::steal(f ? PyObject_CallNoArgs(f.get()) : nullptr);
    double v = r ? PyFloat_AsDouble(r.get()) : -1.0;
    if (PyErr_Occurred()) {
        py::discard_error();
        return 0.0;
    }
    return v;
}

}  // namespace timing
