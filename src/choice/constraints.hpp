// The five choice types and their constraints dictionaries: the builder and
// the readers through which the choice functions take values out of a
// dictionary. A reader throws py::Err with the Python error set: KeyError
// carrying the key for a missing required key, the conversion's own
// TypeError or OverflowError for an unusable value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "choice/int.hpp"
#include "py/py.hpp"

namespace intervalset {
class IntervalSet;
}

namespace choice {

// The tag is the number the record stores in each node.
enum class ChoiceType : uint8_t { Integer = 0, Float = 1, String = 2, Bytes = 3, Boolean = 4 };

// "integer", "float", "string", "bytes", "boolean".
const char* type_name(ChoiceType t);
std::optional<ChoiceType> type_from_name(std::string_view name);
// The choice type of a Python value: exactly bool, then int, float, str,
// bytes (subclasses included); none for anything else.
std::optional<ChoiceType> kind_of(PyObject* v);

// The constraint keys, as interned Python strings (borrowed, process-wide).
enum class Key : uint8_t {
    MinValue,
    MaxValue,
    Weights,
    ShrinkTowards,
    AllowNan,
    SmallestNonzeroMagnitude,
    Intervals,
    MinSize,
    MaxSize,
    P,
};
const char* key_text(Key k);
PyObject* key_object(Key k);

// Readers. `c` must be a dict (or subclass).
// The value (a new reference); KeyError(key) when missing.
py::Ref dget(PyObject* c, Key k);
// Absent for a missing key or None; else the integer (TypeError otherwise).
std::optional<Int> opt_bigint(PyObject* c, Key k);
// Required int (None refused with the conversion's TypeError).
Int req_int(PyObject* c, Key k);
// Python's float conversion (float, int, __float__, __index__).
double req_f64(PyObject* c, Key k);
// Unsigned 64-bit: OverflowError for negative or too large ints, TypeError
// for non-integers.
uint64_t req_u64(PyObject* c, Key k);
// Exactly True or False (a numpy boolean through its truth value).
bool req_bool(PyObject* c, Key k);
// The IntervalSet object under "intervals"; TypeError naming IntervalSet for
// another type.
py::Ref req_intervals(PyObject* c);
// The same check of a value read elsewhere.
py::Ref as_intervals(PyObject* v);

// Value conversions shared with the readers.
double to_f64(PyObject* o);
uint64_t to_u64(PyObject* o);
// Is o a NumPy boolean scalar (numpy.bool_ or numpy.bool)? Found by its
// type's module and name, without importing NumPy.
bool is_numpy_bool(PyObject* o);

// Parsed constraints of each type: every key of the type read at once, in
// the order of the table of keys. The record's own draws always store all
// keys, so this is the form its hot paths use.
struct IntegerConstraints {
    std::optional<Int> min_value, max_value;
    Int shrink_towards;
};
struct FloatConstraints {
    double min_value, max_value;
    bool allow_nan;
    double smallest_nonzero_magnitude;
};
struct StringConstraints {
    py::Ref intervals;  // the IntervalSet object
    uint64_t min_size, max_size;
    const intervalset::IntervalSet& set() const;
};
struct BytesConstraints {
    uint64_t min_size, max_size;
};
struct BooleanConstraints {
    double p;
};

IntegerConstraints parse_integer(PyObject* c);  // min_value, max_value, shrink_towards
FloatConstraints parse_float(PyObject* c);
StringConstraints parse_string(PyObject* c);  // intervals, min_size, max_size
BytesConstraints parse_bytes(PyObject* c);
BooleanConstraints parse_boolean(PyObject* c);

}  // namespace choice
