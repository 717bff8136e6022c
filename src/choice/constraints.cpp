#include "choice/constraints.hpp"

#include <array>
#include <cstring>

#include "intervalset/intervalset.hpp"

namespace choice {

namespace {
constexpr std::array<const char*, 10> KEY_TEXTS = {
    "min_value", "max_value", "weights", "shrink_towards", "allow_nan",
    "smallest_nonzero_magnitude", "intervals", "min_size", "max_size", "p",
};
constexpr std::array<const char*, 5> TYPE_NAMES = {"integer", "float", "string", "bytes", "boolean"};

[[noreturn]] void raise_missing(Key k) {
    PyErr_SetObject(PyExc_KeyError, key_object(k));
    throw py::Err{};
}
}  // namespace

bool is_numpy_bool(PyObject* o) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    py::Ref module = py::getattr_opt(type, "__module__");
    if (!module || !PyUnicode_Check(module.get())) return false;
    if (PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) return false;
    py::Ref name = py::getattr_opt(type, "__name__");
    if (!name || !PyUnicode_Check(name.get())) return false;
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
           PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

const char* type_name(ChoiceType t) { return TYPE_NAMES[static_cast<size_t>(t)]; }

std::optional<ChoiceType> type_from_name(std::string_view name) {
    for (size_t i = 0; i < TYPE_NAMES.size(); ++i) {
        if (name == TYPE_NAMES[i]) return static_cast<ChoiceType>(i);
    }
    return std::nullopt;
}

std::optional<ChoiceType> kind_of(PyObject* v) {
    if (PyBool_Check(v)) return ChoiceType::Boolean;  // bool cannot be subclassed
    if (PyLong_Check(v)) return ChoiceType::Integer;
    if (PyFloat_Check(v)) return ChoiceType::Float;
    if (PyUnicode_Check(v)) return ChoiceType::String;
    if (PyBytes_Check(v)) return ChoiceType::Bytes;
    return std::nullopt;
}

const char* key_text(Key k) { return KEY_TEXTS[static_cast<size_t>(k)]; }

PyObject* key_object(Key k) {
    // Interned once per process, under the interpreter lock; never released.
    static std::array<PyObject*, KEY_TEXTS.size()> objects{};
    PyObject*& slot = objects[static_cast<size_t>(k)];
    if (!slot) {
        slot = PyUnicode_InternFromString(key_text(k));
        if (!slot) throw py::Err{};
    }
    return slot;
}

py::Ref dget(PyObject* c, Key k) {
    PyObject* v = PyDict_GetItemWithError(c, key_object(k));
    if (!v) {
        if (PyErr_Occurred()) throw py::Err{};
        raise_missing(k);
    }
    return py::Ref::borrow(v);
}

double to_f64(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AsDouble(o);
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw py::Err{};
    return v;
}

uint64_t to_u64(PyObject* o) {
    py::Ref owned;
    o = py::index_of(o, owned);
    unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::Err{};
    return v;
}

std::optional<Int> opt_bigint(PyObject* c, Key k) {
    PyObject* v = PyDict_GetItemWithError(c, key_object(k));
    if (!v) {
        if (PyErr_Occurred()) throw py::Err{};
        return std::nullopt;
    }
    if (v == Py_None) return std::nullopt;
    py::Ref hold = py::Ref::borrow(v);
    return Int::from_py(v);
}

Int req_int(PyObject* c, Key k) {
    py::Ref v = dget(c, k);
    return Int::from_py(v.get());
}

double req_f64(PyObject* c, Key k) {
    py::Ref v = dget(c, k);
    return to_f64(v.get());
}

uint64_t req_u64(PyObject* c, Key k) {
    py::Ref v = dget(c, k);
    return to_u64(v.get());
}

bool req_bool(PyObject* c, Key k) {
    py::Ref v = dget(c, k);
    if (v.get() == Py_True) return true;
    if (v.get() == Py_False) return false;
    if (is_numpy_bool(v.get())) return py::truthy(v.get());
    py::raise_cannot_convert(v.get(), "PyBool");
}

py::Ref req_intervals(PyObject* c) { return as_intervals(dget(c, Key::Intervals).get()); }

py::Ref as_intervals(PyObject* v) {
    if (!intervalset::check(v)) py::raise_cannot_convert(v, "IntervalSet");
    return py::Ref::borrow(v);
}

IntegerConstraints parse_integer(PyObject* c) {
    IntegerConstraints r;
    r.min_value = opt_bigint(c, Key::MinValue);
    r.max_value = opt_bigint(c, Key::MaxValue);
    r.shrink_towards = req_int(c, Key::ShrinkTowards);
    return r;
}

FloatConstraints parse_float(PyObject* c) {
    FloatConstraints r;
    r.min_value = req_f64(c, Key::MinValue);
    r.max_value = req_f64(c, Key::MaxValue);
    r.allow_nan = req_bool(c, Key::AllowNan);
    r.smallest_nonzero_magnitude = req_f64(c, Key::SmallestNonzeroMagnitude);
    return r;
}

StringConstraints parse_string(PyObject* c) {
    StringConstraints r;
    r.intervals = req_intervals(c);
    r.min_size = req_u64(c, Key::MinSize);
    r.max_size = req_u64(c, Key::MaxSize);
    return r;
}

const intervalset::IntervalSet& StringConstraints::set() const {
    return intervalset::value(intervals.get());
}

BytesConstraints parse_bytes(PyObject* c) {
    BytesConstraints r;
    r.min_size = req_u64(c, Key::MinSize);
    r.max_size = req_u64(c, Key::MaxSize);
    return r;
}

BooleanConstraints parse_boolean(PyObject* c) { return BooleanConstraints{req_f64(c, Key::P)}; }

}  // namespace choice
