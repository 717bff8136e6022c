// Argument errors of the strategy constructors: InvalidArgument and
// ResolutionFailed from quorvantis_fast.errors.
#pragma once

#include <string>
#include <string_view>

#include "py/py.hpp"
#include "strategy/node.hpp"

namespace strategy {

// Each returns the exception to raise: an instance of
// quorvantis_fast.errors.InvalidArgument / ResolutionFailed made with the
// message, or the error met while making it.
py::Ref invalid_argument(std::string_view message);
py::Ref resolution_failed_err(std::string_view message);
// Set `exc` as the current error and throw py::Err.
[[noreturn]] void raise_exc(py::Ref exc);
[[noreturn]] inline void raise_invalid_argument(std::string_view message) {
    raise_exc(invalid_argument(message));
}
// The stored error of an Invalid node.
[[noreturn]] void raise_stored_error(const kinds::Invalid& node);
// repr() of an object for a message that is built anyway; the empty text
// when the repr fails (the error is dropped).
std::string repr_or_empty(PyObject* o);
// "Expected a SearchStrategy but got {} (type={})" for `o`.
[[noreturn]] void raise_expected_strategy(PyObject* o);

}  // namespace strategy
