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

PyMethodDef methods[] = {
    {"intervals_for_categories", intervals_for_categories, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_probe", "", 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__probe(void) { return PyModule_Create(&module_def); }
