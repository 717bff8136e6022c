#include "engine/failures.hpp"

#include "database/choice_bytes.hpp"

namespace engine {

py::Ref make_run_error(std::initializer_list<ErrorSource> sources, PyObject* fallback,
                       const std::string& message, PyObject* extra) {
    py::Ref text = py::str(message);
    for (const ErrorSource& s : sources) {
        PyObject* mod = PyImport_ImportModule(s.module);
        PyObject* cls = mod ? PyObject_GetAttrString(mod, s.name) : nullptr;
        Py_XDECREF(mod);
        PyObject* exc = nullptr;
        if (cls) {
            exc = extra ? PyObject_CallFunctionObjArgs(cls, text.get(), extra, nullptr)
                        : PyObject_CallFunctionObjArgs(cls, text.get(), nullptr);
            Py_DECREF(cls);
        }
        if (exc) return py::Ref::steal(exc);
        py::drop_exception();
    }
    return py::call(fallback, text.get());
}

[[noreturn]] void raise_instance(PyObject* exc) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc)), exc);
    throw py::Err{};
}

void save_choices(const RunArgs& a, const RefList& choices) {
    if (!a.uses_database()) return;
    std::string bytes;
    try {
        bytes = database::encode_choices(choices);
    } catch (const py::Err&) {
        py::drop_exception();
        return;
    }
    PyObject* key = PyBytes_FromStringAndSize(a.db_key->data(), static_cast<Py_ssize_t>(a.db_key->size()));
    PyObject* value = key ? PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()))
                          : nullptr;
    PyObject* r = value ? PyObject_CallMethod(a.database.get(), "save", "OO", key, value) : nullptr;
    Py_XDECREF(key);
    Py_XDECREF(value);
    Py_XDECREF(r);
    py::drop_exception();
}

}  // namespace engine
