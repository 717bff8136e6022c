#include "engine/failures.hpp"

#include "database/choice_bytes.hpp"
#include "engine/run.hpp"

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

namespace {

// The bytes object of a choice sequence; empty (no error set) when it does
// not encode.
py::Ref encoded(const RefList& choices) {
    try {
        std::string bytes = database::encode_choices(choices);
        return py::check(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
    } catch (const py::Err&) {
        py::drop_exception();
        return {};
    }
}

// Calls the database's `method` ("save" or "delete") with the run's key and
// `value`; false when it raised (the error is dropped).
bool call_database(const RunArgs& a, const char* method, PyObject* value) {
    try {
        py::Ref key = key_bytes(a);
        py::check(PyObject_CallMethod(a.database.get(), method, "OO", key.get(), value));
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
    return true;
}

}  // namespace

py::Ref save_choices(const RunArgs& a, const RefList& choices) {
    if (!a.uses_database()) return {};
    py::Ref value = encoded(choices);
    if (!value || !call_database(a, "save", value.get())) return {};
    return value;
}

void delete_stored(const RunArgs& a, PyObject* item) { call_database(a, "delete", item); }

bool StoredFailure::holds(PyObject* value) const {
    std::string held;
    return item_ && to_byte_string(item_.get(), held) &&
           held == std::string_view(PyBytes_AsString(value), static_cast<size_t>(PyBytes_Size(value)));
}

bool StoredFailure::holds(const RefList& choices) const {
    py::Ref value = encoded(choices);
    return value && holds(value.get());
}

void StoredFailure::put(const RefList& choices, bool save_unchanged) {
    if (!a_.uses_database()) return;
    py::Ref value = encoded(choices);
    if (!value) return;
    const bool same = holds(value.get());
    if (same && !save_unchanged) return;
    if (!call_database(a_, "save", value.get())) return;
    if (same) return;
    if (item_) delete_stored(a_, item_.get());
    item_ = std::move(value);
    replayed_ = false;
}

void StoredFailure::drop() {
    if (!item_ || replayed_) return;
    delete_stored(a_, item_.get());
    item_.reset();
}

}  // namespace engine
