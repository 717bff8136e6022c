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

py::Ref key_bytes(const RunArgs& a) {
    return py::check(PyBytes_FromStringAndSize(a.db_key->data(), static_cast<Py_ssize_t>(a.db_key->size())));
}

bool save_choices(const RunArgs& a, const RefList& choices, std::string* saved) {
    if (!a.uses_database()) return false;
    std::string bytes;
    try {
        bytes = database::encode_choices(choices);
        py::Ref key = key_bytes(a);
        py::Ref value = py::check(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
        py::check(PyObject_CallMethod(a.database.get(), "save", "OO", key.get(), value.get()));
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
    if (saved) *saved = std::move(bytes);
    return true;
}

void delete_stored(const RunArgs& a, PyObject* item) {
    try {
        py::Ref key = key_bytes(a);
        py::check(PyObject_CallMethod(a.database.get(), "delete", "OO", key.get(), item));
    } catch (const py::Err&) {
        py::drop_exception();
    }
}

}  // namespace engine
