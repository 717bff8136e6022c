// Argument checks shared by the strategy constructors.
//
// Two forms of argument error: eager ones are raised from the constructor
// call (these routines throw py::Err with InvalidArgument set), stored ones
// become an Invalid node that raises when the strategy is validated or first
// drawn. `parse_size` and `collection_sizes` never raise for a bad value:
// they hand back the message and the caller stores it.
//
// The strategy-argument checks (`is_strategy`, `check_strategy`,
// `strat_is_empty`) live in strategy/check_strategy.hpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "py/py.hpp"
#include "strategy/node.hpp"

namespace strategy {

// Bounds the min_size of every collection: more elements can never fit in
// one test case.
inline constexpr uint64_t MAX_COLLECTION_MIN_SIZE = 8192;

struct Sizes {
    uint64_t min_size, max_size;
};

// A result, or the message of a bad argument.
template <class T> using OrMessage = std::variant<T, std::string>;

// The message of every size or bound that lies beyond what the native
// value holding it can take: "{name}={value} must be at most {limit}, the
// largest {what} supported." or, below the range, "... must be at least
// {limit}, the smallest {what} supported." (`value` and `limit` as printed).
std::string beyond_limit(std::string_view name, std::string_view value, bool above, std::string_view limit,
                         std::string_view what);
// beyond_limit for an int above the signed 64-bit range.
std::string above_i64(std::string_view name, PyObject* value, std::string_view what);

// `value` absent (nullptr) or None gives `default_size`; otherwise a
// non-negative integer fitting in 64 signed bits, else a message.
OrMessage<uint64_t> parse_size(PyObject* value, const char* name, uint64_t default_size);

// The (min_size, max_size) of a collection, or a message. `elements_empty`
// and `elements_repr` describe the element strategy.
OrMessage<Sizes> collection_sizes(PyObject* min_size, PyObject* max_size, std::string_view collection,
                                  bool elements_empty, std::string_view elements_repr);

// A present float bound: a numbers.Real converted with float(). NaN and
// infinities pass. InvalidArgument for a non-real and for a value too large
// for a float; float()'s other errors pass unchanged.
double coerce_float_bound(PyObject* value, const char* name);
// A present integer bound: an int, or a value equal to int(value).
mpz_class coerce_integer_bound(PyObject* value, const char* name);
// A present flag that must be exactly a bool.
bool check_bool_flag(PyObject* value, const char* name);
// Values that sampling may draw from: an ordered collection (sequence,
// Enum class, OrderedDict) or a one-dimensional NumPy array.
void check_ordered_sample(PyObject* values, std::string_view strategy_name);

// An argument that was not given or was given as None, as nullptr.
inline PyObject* given(PyObject* o) { return o == Py_None ? nullptr : o; }

// A float for messages: "None" when absent, else Python's repr.
std::string fmt_float_opt(bool present, double value);

// A new strategy holding the stored InvalidArgument `message`.
py::Ref stored_error(std::string message);

}  // namespace strategy
