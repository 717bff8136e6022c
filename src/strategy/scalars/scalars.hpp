// The numeric, value, sampling and combining strategy constructors.
//
// Each public function checks its arguments (strategy/scalars/checks.hpp),
// builds one StrategyNode and wraps it in a new SearchStrategy. Each module
// function is the method definition `strategy::defs::NAME` that the table of
// strategy functions registers. The native entry points below let other
// constructors build the same strategies without Python argument parsing.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "py/py.hpp"
#include "strategy/node.hpp"
#include "strategy/scalars/checks.hpp"

namespace strategy {

// The arguments of floats() after reading them.
struct FloatArgs {
    std::optional<double> min_value, max_value;
    uint32_t width = 64;
    std::optional<bool> allow_nan, allow_infinity, allow_subnormal;
    bool exclude_min = false, exclude_max = false;
};
// The Floats node these arguments describe, or the message of the first
// inconsistency among them.
OrMessage<kinds::Floats> resolve_floats(const FloatArgs& a);

// The Fraction `f` (made by the class `fraction`) with a numerator and a
// denominator of type int: `f` itself when they already are, else a new
// Fraction of their operator.index values. Fraction keeps the integer type
// it was given (a NumPy int64 stays one), and the bounds of fractions() and
// decimals() must be scaled without wrapping in a fixed width.
py::Ref fraction_of_ints(PyObject* fraction, PyObject* f);

// lists(elements, min_size=, max_size=, unique_by=, unique=): arguments
// borrowed, nullptr where absent. Eager errors throw.
py::Ref make_lists(PyObject* elements, PyObject* min_size, PyObject* max_size, PyObject* unique_by,
                   bool unique);
// tuples(*elements). Eager errors throw.
py::Ref make_tuples(const std::vector<py::Ref>& elements);

// The finite set of distinct candidates of a unique list over `elements`:
// the stored values of a SampledFrom node, or every int of an Integers node
// spanning at most 256 values; nullopt otherwise.
std::optional<Refs> finite_unique_domain(PyObject* elements);

}  // namespace strategy
