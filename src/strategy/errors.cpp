#include "strategy/errors.hpp"

#include <string>

namespace strategy {

namespace {
py::Ref make_named_error(const char* cls_name, std::string_view message) {
    try {
        py::Ref cls = py::import_attr("quorvantis_fast.errors", cls_name);
        py::Ref text = py::str(message);
        return py::call(cls.get(), text.get());
    } catch (const py::Err&) {
        py::Ref exc = py::fetch_error();
        if (exc) return exc;
        return py::check(PyObject_CallFunction(PyExc_SystemError, "s",
                                               "error return without exception set"));
    }
}
}  // namespace

py::Ref invalid_argument(std::string_view message) { return make_named_error("InvalidArgument", message); }
py::Ref resolution_failed_err(std::string_view message) {
    return make_named_error("ResolutionFailed", message);
}

[[noreturn]] void raise_exc(py::Ref exc) {
    py::restore_error(exc.get());
    throw py::Err{};
}

[[noreturn]] void raise_stored_error(const kinds::Invalid& node) {
    raise_exc(node.resolution_failure ? resolution_failed_err(node.message) : invalid_argument(node.message));
}

std::string repr_or_empty(PyObject* o) {
    try {
        return py::repr(o);
    } catch (const py::Err&) {
        py::drop_exception();
        return std::string();
    }
}

[[noreturn]] void raise_expected_strategy(PyObject* o) {
    std::string r = py::repr(o);
    raise_invalid_argument("Expected a SearchStrategy but got " + r + " (type=" + py::type_name(o) + ")");
}

}  // namespace strategy
