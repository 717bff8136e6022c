// The characters an alphabet strategy can produce, found without drawing.
#pragma once

#include <optional>

#include "intervalset/intervalset.hpp"
#include "py/py.hpp"

namespace strategy::constructors {

// The set of characters of a native just, sampled_from, one_of or
// characters strategy, or of a foreign strategy that exposes its interval
// set (`intervals.intervals`). nullopt when the alphabet's characters cannot
// be told without drawing; Python errors throw.
std::optional<IntervalSet> resolve_alphabet_iset(PyObject* alphabet);

}  // namespace strategy::constructors
