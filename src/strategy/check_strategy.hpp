// The strategy-argument checks shared by every constructor and by
// DataObject.draw.
#pragma once

#include <string_view>

#include "py/py.hpp"

namespace strategy {

// A native strategy, or an instance of the upstream library's SearchStrategy
// (reached through quorvantis_fast.strategies._real_quorvantis). Never fails.
bool is_strategy(PyObject* o);
// InvalidArgument "Expected a SearchStrategy but got {label}={repr} (type={})"
// unless is_strategy(o).
void check_strategy(PyObject* o, std::string_view label);
// What a record's draw asks before it hands an object that is no native
// strategy to that object's do_draw inside an upstream build context:
// InvalidArgument "Expected a SearchStrategy but got {repr} (type={})"
// when `o` has no do_draw, and one saying that the upstream library is not
// installed when `o` looks like one of its strategies but it is missing.
void check_foreign_strategy(PyObject* o);
// Has `o` a `do_draw` attribute (the mark of a strategy of any library)? A
// failing lookup is no; an interrupt propagates.
bool has_do_draw(PyObject* o);
// A native strategy whose node is empty; anything else, and any ordinary
// error of the query (dropped), is false; an interrupt propagates.
bool strat_is_empty(PyObject* o);

}  // namespace strategy
