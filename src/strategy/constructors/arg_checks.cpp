#include "strategy/constructors/arg_checks.hpp"

#include "data/tls.hpp"
#include "strategy/mod.hpp"

namespace strategy::interim {
namespace {

using SizeOrMessage = std::variant<uint64_t, std::string>;

SizeOrMessage parse_size(PyObject* value, const char* name, uint64_t default_size) {
    if (!value || value == Py_None) return default_size;
    long long v = PyLong_AsLongLong(value);
    if (v == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        std::string r;
        try {
            r = py::repr(value);
        } catch (const py::Err&) {
            PyErr_Clear();
        }
        return std::string(name) + "=" + r + " must be an integer or None";
    }
    if (v < 0) return std::string(name) + "=" + std::to_string(v) + " must be non-negative";
    return static_cast<uint64_t>(v);
}

bool is_instance(PyObject* o, const char* module, const char* cls_name) {
    py::Ref cls = py::import_attr(module, cls_name);
    int r = PyObject_IsInstance(o, cls.get());
    if (r < 0) throw py::Err{};
    return r == 1;
}

}  // namespace

SizesOrMessage collection_sizes(PyObject* min_size, PyObject* max_size, std::string_view collection,
                                bool elements_empty, std::string_view elements_repr) {
    SizeOrMessage lo = parse_size(min_size, "min_size", 0);
    if (auto* m = std::get_if<std::string>(&lo)) return std::move(*m);
    SizeOrMessage hi = parse_size(max_size, "max_size", UNBOUNDED_SIZE);
    if (auto* m = std::get_if<std::string>(&hi)) return std::move(*m);
    const uint64_t min = std::get<uint64_t>(lo), max = std::get<uint64_t>(hi);
    const std::string name(collection), elements(elements_repr);
    if (min > max) {
        return "min_size=" + std::to_string(min) + " cannot be greater than max_size=" + std::to_string(max);
    }
    if (min > data::BUFFER_SIZE) {
        return "Cannot create a " + name + " of min_size=" + std::to_string(min) +
               ": it can never generate an example, because min_size is larger than the maximum buffer size " +
               std::to_string(data::BUFFER_SIZE);
    }
    if (min > 0 && elements_empty) {
        return "Cannot create non-empty " + name + " with elements drawn from strategy " + elements +
               " because it has no values";
    }
    const bool max_given = max_size && max_size != Py_None;
    if (min == 0 && elements_empty && max_given && max != 0 && name != "text") {
        return "Cannot create a " + name + " of max_size=" + std::to_string(max) +
               ", because no elements can be drawn from the element strategy " + elements;
    }
    return Sizes{min, max};
}

bool check_bool_flag(PyObject* value, const char* name) {
    if (!PyBool_Check(value)) {
        raise_invalid_argument(std::string("Expected ") + name + " to be a bool, but got " + py::repr(value));
    }
    return value == Py_True;
}

void check_ordered_sample(PyObject* values, std::string_view strategy_name) {
    if (is_instance(values, "collections.abc", "Sequence") || is_instance(values, "enum", "EnumMeta") ||
        is_instance(values, "collections", "OrderedDict")) {
        return;
    }
    // NumPy is looked at only when something else already imported it.
    PyObject* modules = PySys_GetObject("modules");  // borrowed
    PyObject* np = nullptr;
    if (modules && PyDict_Check(modules)) {
        np = PyDict_GetItemString(modules, "numpy");
    }
    if (np && is_instance(values, "numpy", "ndarray")) {
        py::Ref ndim = py::getattr(values, "ndim");
        unsigned long long n = PyLong_AsUnsignedLongLong(ndim.get());
        if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::Err{};
        if (n == 1) return;
        raise_invalid_argument("Only one-dimensional arrays are supported for sampling, and you passed a " +
                               std::to_string(n) + "-dimensional array.");
    }
    std::string r;
    try {
        r = py::repr(values);
    } catch (const py::Err&) {
        PyErr_Clear();
    }
    raise_invalid_argument("Cannot sample from " + r +
                           ", not an ordered collection. Quorvantis needs stable results between runs for the " +
                           std::string(strategy_name) +
                           " strategy, ruling out sets/dicts due to hash randomization. Use `sorted(values)` "
                           "for a stable order.");
}

py::Ref stored_error(std::string message) {
    return SearchStrategy::wrap(kinds::Invalid{std::move(message), false});
}

}  // namespace strategy::interim
