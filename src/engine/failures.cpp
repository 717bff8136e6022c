#include "engine/failures.hpp"

#include "database/choice_bytes.hpp"

namespace engine {

py::Ref make_run_error(std::initializer_list<ErrorSource> sources, PyObject* fallback,
                       const std::string& message, PyObject* extra) {
    py::Ref text = py::str(message);
    for (const ErrorSource& s : sources) {
        py::Ref cls = py::optional_attr(s.module, s.name);
        py::Ref exc;
        if (cls) {
            exc = py::Ref::steal(extra ? PyObject_CallFunctionObjArgs(cls.get(), text.get(), extra, nullptr)
                                       : PyObject_CallFunctionObjArgs(cls.get(), text.get(), nullptr));
        }
        if (exc) return exc;
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
    py::Ref key = py::Ref::steal(
        PyBytes_FromStringAndSize(a.db_key->data(), static_cast<Py_ssize_t>(a.db_key->size())));
    py::Ref value = py::Ref::steal(
        key ? PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())) : nullptr);
    py::Ref r = py::Ref::steal(
        value ? PyObject_CallMethod(a.database.get(), "save", "OO", key.get(), value.get()) : nullptr);
    py::drop_exception();
}

}  // namespace engine
