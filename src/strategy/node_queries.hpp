// Node queries (emptiness, reusable values, validation, branches) and reprs.
// Every walk that follows child strategies goes through the interpreter's
// recursion check, so a very deep tree raises RecursionError.
#pragma once

#include <string>
#include <string_view>

#include "strategy/object.hpp"

namespace strategy {

bool node_is_empty(const StrategyNode& node);
bool node_has_reusable_values(const StrategyNode& node);
// Calls the definition; a native result answers for its node, any other false.
bool deferred_has_reusable(PyObject* definition);
// Raises the first stored argument error of the tree.
void node_validate(const StrategyNode& node);
// A native child is validated; any other object passes.
void validate_child(PyObject* child);
// A native child is validated; any other object fails with InvalidArgument
// "Expected a SearchStrategy but got {label}{repr} (type={})".
void validate_builds_arg(std::string_view label, PyObject* arg);
// The `branches` getter of a strategy object.
py::Ref branches(PyObject* self);

// The repr text of a node, of a child object (Python repr), of a callable
// ("..." when its text cannot be had; only an interrupt propagates).
std::string repr_node(const StrategyNode& node);
std::string child_repr(PyObject* child);
std::string fn_repr(PyObject* f);
// The text of an object that should be a str (consumed).
std::string take_text(py::Ref s);

// Does the upstream reflection module call `f` an identity function? No
// answer (no module, an ordinary error of the question) is no.
bool is_identity_function(PyObject* f);

}  // namespace strategy
