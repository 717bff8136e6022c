#include "strategy/scalars/checks.hpp"

#include <cstdio>
#include <limits>

#include "floats/floats.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"

namespace strategy {

namespace {

bool is_instance(PyObject* o, PyObject* cls) {
    int r = PyObject_IsInstance(o, cls);
    if (r < 0) throw py::Err{};
    return r == 1;
}

bool is_instance(PyObject* o, const char* module, const char* cls_name) {
    py::Ref cls = py::import_attr(module, cls_name);
    return is_instance(o, cls.get());
}

// a != b, truth-tested, without the identity shortcut (a NaN is unequal
// to itself); errors propagate.
bool not_equal(PyObject* a, PyObject* b) {
    py::Ref r = py::check(PyObject_RichCompare(a, b, Py_NE));
    return py::truthy(r.get());
}

}  // namespace

std::string beyond_limit(std::string_view name, std::string_view value, bool above, std::string_view limit,
                         std::string_view what) {
    return std::string(name) + "=" + std::string(value) + (above ? " must be at most " : " must be at least ") +
           std::string(limit) + (above ? ", the largest " : ", the smallest ") + std::string(what) + " supported.";
}

std::string above_i64(std::string_view name, PyObject* value, std::string_view what) {
    return beyond_limit(name, repr_or_empty(value), true, std::to_string(std::numeric_limits<int64_t>::max()), what);
}

OrMessage<uint64_t> parse_size(PyObject* value, const char* name, uint64_t default_size) {
    if (!value || value == Py_None) return default_size;
    py::Ref index = py::Ref::steal(PyNumber_Index(value));
    if (!index) {
        py::drop_exception();
        return std::string(name) + "=" + repr_or_empty(value) + " must be an integer or None";
    }
    int side = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &side);
    if (side > 0) return above_i64(name, index.get(), "size");
    if (side < 0 || v < 0) return std::string(name) + "=" + repr_or_empty(index.get()) + " must be non-negative";
    return static_cast<uint64_t>(v);
}

OrMessage<Sizes> collection_sizes(PyObject* min_size, PyObject* max_size, std::string_view collection,
                                  bool elements_empty, std::string_view elements_repr) {
    OrMessage<uint64_t> lo = parse_size(min_size, "min_size", 0);
    if (auto* m = std::get_if<std::string>(&lo)) return std::move(*m);
    OrMessage<uint64_t> hi = parse_size(max_size, "max_size", UNBOUNDED_SIZE);
    if (auto* m = std::get_if<std::string>(&hi)) return std::move(*m);
    const uint64_t min = std::get<uint64_t>(lo), max = std::get<uint64_t>(hi);
    const std::string name(collection);
    if (min > max) {
        return "min_size=" + std::to_string(min) + " cannot be greater than max_size=" + std::to_string(max);
    }
    if (min > MAX_COLLECTION_MIN_SIZE) {
        return "Cannot create a " + name + " of min_size=" + std::to_string(min) +
               ": it can never generate an example, because min_size is larger than the maximum "
               "buffer size " + std::to_string(MAX_COLLECTION_MIN_SIZE);
    }
    if (min > 0 && elements_empty) {
        return "Cannot create non-empty " + name + " with elements drawn from strategy " +
               std::string(elements_repr) + " because it has no values";
    }
    const bool max_given = max_size && max_size != Py_None;
    if (min == 0 && elements_empty && max_given && max != 0 && collection != "text") {
        return "Cannot create a " + name + " of max_size=" + std::to_string(max) +
               ", because no elements can be drawn from the element strategy " + std::string(elements_repr);
    }
    return Sizes{min, max};
}

double coerce_float_bound(PyObject* value, const char* name) {
    if (!is_instance(value, "numbers", "Real")) {
        raise_invalid_argument(std::string(name) + "=" + py::repr(value) + " must be a real number.");
    }
    py::Ref f = py::Ref::steal(PyNumber_Float(value));
    if (!f) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::Err{};
        py::drop_exception();
        py::Ref zero = py::from_i64(0);
        const int negative = PyObject_RichCompareBool(value, zero.get(), Py_LT);
        if (negative < 0) throw py::Err{};
        const double limit = negative ? -floats::max_finite(64) : floats::max_finite(64);
        raise_invalid_argument(beyond_limit(name, py::repr(value), !negative, fmt_float_opt(true, limit), "float"));
    }
    return PyFloat_AsDouble(f.get());
}

mpz_class coerce_integer_bound(PyObject* value, const char* name) {
    if (PyLong_Check(value)) return py::to_mpz(value);
    const std::string r = py::repr(value);
    const std::string invalid = "Invalid end point " + std::string(name) + "=" + r;
    if (not_equal(value, value)) raise_invalid_argument(invalid);
    PyObject* as_int = PyNumber_Long(value);
    if (!as_int) {
        py::drop_exception();
        raise_invalid_argument(invalid);
    }
    py::Ref i = py::Ref::steal(as_int);
    if (not_equal(value, i.get())) {
        raise_invalid_argument(std::string(name) + "=" + r + " of type " + py::type_name(value) +
                               " cannot be exactly represented as an integer.");
    }
    return py::to_mpz(i.get());
}

bool check_bool_flag(PyObject* value, const char* name) {
    if (!PyBool_Check(value)) {
        raise_invalid_argument("Expected " + std::string(name) + " to be a bool, but got " + py::repr(value));
    }
    return value == Py_True;
}

void check_ordered_sample(PyObject* values, std::string_view strategy_name) {
    if (is_instance(values, "collections.abc", "Sequence") || is_instance(values, "enum", "EnumMeta") ||
        is_instance(values, "collections", "OrderedDict")) {
        return;
    }
    // NumPy is consulted only when the program has imported it already.
    PyObject* modules = PySys_GetObject("modules");  // borrowed; NULL without an error
    bool numpy_loaded = false;
    if (modules && PyDict_Check(modules)) {
        PyObject* np = PyDict_GetItemString(modules, "numpy");
        numpy_loaded = np != nullptr;
    }
    if (numpy_loaded && is_instance(values, "numpy", "ndarray")) {
        py::Ref ndim = py::getattr(values, "ndim");
        unsigned long long n = PyLong_AsUnsignedLongLong(ndim.get());
        if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::Err{};
        if (n == 1) return;
        raise_invalid_argument("Only one-dimensional arrays are supported for sampling, and you passed a " +
                               std::to_string(n) + "-dimensional array.");
    }
    raise_invalid_argument("Cannot sample from " + repr_or_empty(values) +
                           ", not an ordered collection. Quorvantis needs stable results between runs "
                           "for the " + std::string(strategy_name) +
                           " strategy, ruling out sets/dicts due to hash randomization. Use "
                           "`sorted(values)` for a stable order.");
}

std::string fmt_float_opt(bool present, double value) {
    if (!present) return "None";
    py::Ref f = py::Ref::steal(PyFloat_FromDouble(value));
    py::Ref r = py::Ref::steal(f ? PyObject_Repr(f.get()) : nullptr);
    if (r) {
        Py_ssize_t n = 0;
        if (const char* p = PyUnicode_AsUTF8AndSize(r.get(), &n)) return std::string(p, static_cast<size_t>(n));
    }
    py::drop_exception();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    return buf;
}

py::Ref stored_error(std::string message) {
    return SearchStrategy::wrap(kinds::Invalid{std::move(message), false});
}

}  // namespace strategy
