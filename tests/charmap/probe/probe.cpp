// Test access to the category map.
#include <string>
#include <vector>

#include "charmap/charmap.hpp"

namespace {

// intervals_for_categories(names) -> tuple of (lo, hi) tuples
PyObject* intervals_for_categories(PyObject*, PyObject* names) {
    QF_ENTRY(nullptr, {
        std::vector<std::string> list;
        py::Ref it = py::check(PyObject_GetIter(names));
        while (py::Ref name = py::Ref::steal(PyIter_Next(it.get()))) list.push_back(py::arg_str(name.get(), "names"));
        py::check_no_error();
        return IntervalSet::intervals_tuple(charmap::intervals_for_categories(list)).release();
    });
}

// call_in_new_thread_state(f) -> f() under a new thread state of this thread.
PyObject* call_in_new_thread_state(PyObject*, PyObject* f) {
    PyThreadState* caller = PyThreadState_Get();
    PyThreadState* other = PyThreadState_New(PyThreadState_GetInterpreter(caller));
    PyThreadState_Swap(other);
    PyObject* result = PyObject_CallNoArgs(f);
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyThreadState_Swap(caller);
    PyErr_Restore(type, value, tb);
    PyThreadState_Clear(other);
    PyThreadState_Delete(other);
    return result;
}

PyMethodDef methods[] = {
    {"intervals_for_categories", intervals_for_categories, METH_O, nullptr},
    {"call_in_new_thread_state", call_in_new_thread_state, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_probe", "", 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__probe(void) { return PyModule_Create(&module_def); }
