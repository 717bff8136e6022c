// The choice model: each choice type's total order (simplest first) with the
// index functions in both directions, keys and equality of choices, and the
// permission test of a value against its constraints.
//
// Two layers:
// - functions on Python values and constraints dicts (`choice_to_index`,
//   `choice_from_index`, `choice_permitted`, `choice_key`, `choices_key`,
//   `choice_equal`), which read the dict lazily in the fixed order of each
//   function, exactly like the Python functions of the same names; the
//   first three also read from any other source of the same keys;
// - native functions on parsed constraints (constraints.hpp) and native
//   values, for the record's and the shrinker's hot paths.
// Indices are `Int`: 128-bit native while they fit, GMP beyond.
// All functions throw py::Err with the Python error set on failure.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "choice/constraints.hpp"
#include "choice/int.hpp"
#include "py/py.hpp"

namespace choice {

// Collections longer than this cannot be built from an index.
inline constexpr uint64_t MAX_COLLECTION_SIZE = 8191;

// ---------------------------------------------------------------------------
// On Python values and constraints dicts.

// Where these functions read a choice's constraints: each reader answers one
// key as the readers of constraints.hpp answer it from a dict, with the same
// errors, and is called only when and where the function reads that key.
class ConstraintsSource {
public:
    virtual double p() const = 0;
    virtual std::optional<Int> min_value() const = 0;  // integer bounds
    virtual std::optional<Int> max_value() const = 0;
    virtual Int shrink_towards() const = 0;
    virtual FloatConstraints floating() const = 0;
    virtual uint64_t min_size() const = 0;
    virtual uint64_t max_size() const = 0;
    virtual py::Ref intervals() const = 0;

protected:
    ~ConstraintsSource() = default;
};

Int choice_to_index(PyObject* choice, const ConstraintsSource& constraints);
py::Ref choice_from_index(const Int& index, ChoiceType t, const ConstraintsSource& constraints);
bool choice_permitted(PyObject* choice, const ConstraintsSource& constraints);

// NotImplementedError "unhandled choice type" for a value of no choice type.
Int choice_to_index(PyObject* choice, PyObject* constraints);
// The value at `index` in the order of type t. ChoiceTooLarge for a
// collection index beyond MAX_COLLECTION_SIZE elements.
py::Ref choice_from_index(const Int& index, ChoiceType t, PyObject* constraints);
// The same, by type name (NotImplementedError "unhandled choice_type {}").
py::Ref choice_from_index(const Int& index, std::string_view type_name, PyObject* constraints);
bool choice_permitted(PyObject* choice, PyObject* constraints);

// ("bool", v) for a bool, ("float", bits) for a float, else the object.
py::Ref choice_key(PyObject* choice);
// Tuple of the keys of an iterable's items.
py::Ref choices_key(PyObject* choices);
// Keys compared with Python ==.
bool choice_equal(PyObject* a, PyObject* b);
// The order of the index of `x` under `cx` and that of `y` under `cy`:
// negative when x's comes first, 0 when they are equal, positive otherwise.
// A choice whose index cannot be had comes after one whose index can, and
// two such are equal. Strings drawn under the same min_size and alphabet
// are compared without their indices (see string_orders).
int compare_indices(PyObject* x, const ConstraintsSource& cx, PyObject* y, const ConstraintsSource& cy);
int compare_indices(PyObject* x, PyObject* cx, PyObject* y, PyObject* cy);

// ---------------------------------------------------------------------------
// Native, on parsed constraints.

// Integers: zigzag around the clamped shrink_towards until one bound is
// reached, then the rest of the other side by distance.
Int zigzag_index_bi(const Int& value, const Int& shrink_towards);
Int zigzag_value_bi(const Int& index, const Int& shrink_towards);
Int clamp_shrink_towards(const Int& shrink_towards, const std::optional<Int>& min_value,
                         const std::optional<Int>& max_value);
Int int_to_index(const Int& value, const IntegerConstraints& c);
Int int_from_index(const Int& index, const IntegerConstraints& c);
bool int_permitted(const Int& value, const IntegerConstraints& c);

// Floats: lex position of the magnitude, plus 2^64 when the sign bit is set.
Int float_to_index(double f);
double float_from_index(const Int& index, const FloatConstraints& c);
bool float_permitted(double f, const FloatConstraints& c);

// Booleans.
Int bool_to_index(bool v, double p);
bool bool_from_index(const Int& index, double p);
bool bool_permitted(bool v, double p);

// Collections over an alphabet of size a: shorter first, then the element
// orders read as a number in base a.
Int size_to_index(uint64_t n, uint64_t a);
Int collection_index_from_orders(std::span<const uint64_t> orders, uint64_t min_size, uint64_t a);
std::vector<uint64_t> collection_value_to_orders(const Int& index, uint64_t min_size, uint64_t a);

Int bytes_to_index(std::span<const uint8_t> value, uint64_t min_size);
py::Ref bytes_from_index(const Int& index, uint64_t min_size);
bool bytes_permitted(uint64_t length, const BytesConstraints& c);

// Strings, given as UTF-8; element order = the character's shrink index in
// the alphabet.
Int string_to_index(std::string_view utf8, uint64_t min_size, const intervalset::IntervalSet& s);
// The digits of that index: each character's order, all below s.size.
// Under one min_size and alphabet the indices of two strings compare as
// their lengths, then as these orders read from the first character: every
// index of length n lies in [S(n) - S(min_size), S(n + 1) - S(min_size)).
// Throws where string_to_index throws.
std::vector<uint64_t> string_orders(std::string_view utf8, uint64_t min_size, const intervalset::IntervalSet& s);
py::Ref string_from_index(const Int& index, uint64_t min_size, const intervalset::IntervalSet& s);
bool string_permitted(std::string_view utf8, const StringConstraints& c);

// A str from code points; lone surrogates are kept, code points above
// U+10FFFF raise the ValueError of chr.
py::Ref cps_to_pystr(std::span<const int64_t> cps);

// Raise ChoiceTooLarge (quorvantis_fast.errors), made without arguments.
[[noreturn]] void raise_choice_too_large();

}  // namespace choice
