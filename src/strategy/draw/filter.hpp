// Retried draws of filtered strategies. `draw_filter` (strategy/draw.hpp)
// is the draw of the Filter kind; these are its parts that other draws may
// share.
#pragma once

#include "strategy/node.hpp"

namespace strategy {

// The truth of condition(value); errors of the call or the truth test throw.
bool test_condition(PyObject* condition, PyObject* value);

// One of `values` (not empty) that satisfies the condition, picked by index
// choices: three random tries, then a scan of the first 9997 values. Ends
// the test case as invalid when none is acceptable.
py::Ref sampled_from_filter_draw(const Refs& values, PyObject* condition, PyObject* record);

}  // namespace strategy
