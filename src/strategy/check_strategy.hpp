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
// Has `o` a `do_draw` attribute (the mark of a strategy of any library)? A
// failing lookup is no; an interrupt propagates.
bool has_do_draw(PyObject* o);
// A native strategy whose node is empty; anything else, and any ordinary
// error of the query (dropped), is false; an interrupt propagates.
bool strat_is_empty(PyObject* o);

}  // namespace strategy
