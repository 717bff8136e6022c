// Runs a callable under a thread state of its own on the calling thread.
#include "py/ref.hpp"

namespace {

// call_in_new_thread_state(f) -> f(), called under a new thread state of
// this thread, which is cleared and deleted afterwards.
PyObject* call_in_new_thread_state(PyObject*, PyObject* f) {
    PyThreadState* caller = PyThreadState_Get();
    PyThreadState* other = PyThreadState_New(PyThreadState_GetInterpreter(caller));
    if (!other) return PyErr_NoMemory();
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
    {"call_in_new_thread_state", call_in_new_thread_state, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_thread_state_probe", "", 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__thread_state_probe(void) {
    return PyModule_Create(&module_def);
}
