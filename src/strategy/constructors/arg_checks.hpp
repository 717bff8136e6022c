// Argument checks of the container and date constructors that the numeric
// constructors share. Kept here until the shared versions are in the tree;
// then the callers switch to those and this file goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "py/py.hpp"

namespace strategy::interim {

struct Sizes {
    uint64_t min_size, max_size;
};
// The sizes, or the message of a bad argument (stored by every caller).
using SizesOrMessage = std::variant<Sizes, std::string>;

SizesOrMessage collection_sizes(PyObject* min_size, PyObject* max_size, std::string_view collection,
                                bool elements_empty, std::string_view elements_repr);
// A present flag that must be exactly a bool; InvalidArgument otherwise.
bool check_bool_flag(PyObject* value, const char* name);
// An ordered collection to draw from; InvalidArgument otherwise.
void check_ordered_sample(PyObject* values, std::string_view strategy_name);
// A new strategy holding the stored InvalidArgument `message`.
py::Ref stored_error(std::string message);

}  // namespace strategy::interim
