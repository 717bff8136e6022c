// Filter rewriting: `SearchStrategy.filter` turns predicates it understands
// into tighter strategy arguments (bounds, sizes, regular expressions) so
// that fewer draws are rejected. What a predicate means is asked of the
// upstream library; when it has no answer the result is a plain Filter node
// (`plain_filter`). The entry point is `filter_strategy` (strategy/object.hpp).
//
// Every function throws py::Err with the Python error set on failure.
#pragma once

#include <optional>

#include "strategy/object.hpp"

namespace strategy {

// A copy of a Lists, Sets, Dictionaries, Text or Binary node (child
// references shared) with the two sizes replaced. Any other kind is an
// internal fault.
StrategyNode rebuild_collection_node(const StrategyNode& node, uint64_t min_size, uint64_t max_size);

// Is `condition` (by identity) one of the items of the set held in the
// attribute `attr` of the upstream class `cls` of `module`? A module, class
// or attribute that cannot be had answers false; an error while iterating
// the set is raised.
bool coll_class_filter_set(const char* module, const char* cls, const char* attr, PyObject* condition);

// Does mapping a list through `pack` keep it a collection of the same
// elements: a subclass of collections.abc.Collection, or builtins.sorted?
bool pack_is_collection_ish(PyObject* pack);

namespace filtering {

// `module.function(arg)` of the upstream library, or an empty Ref when the
// import, the lookup or the call fails (such questions only refine a result,
// so their failures are dropped).
py::Ref ask_upstream(const char* module, const char* function, PyObject* arg);

// What the upstream bounds functions answer: `constraints` (a dict) and the
// remaining `predicate` (None when the bounds say everything).
struct Bounds {
    py::Ref constraints;
    py::Ref predicate;
};
// get_integer_predicate_bounds / get_float_predicate_bounds of the upstream
// filtering module for `condition`; none when the upstream cannot answer.
// A `constraints` that is not a dict raises TypeError.
std::optional<Bounds> predicate_bounds(const char* function, PyObject* condition);

// A new strategy with the Nothing node.
py::Ref nothing();

// The rewrites by node kind. Each answers the new strategy, or an empty Ref
// when the filter stays a plain Filter node.
py::Ref rewrite_integers(PyObject* self, const kinds::Integers& n, PyObject* condition);
py::Ref rewrite_floats(PyObject* self, const kinds::Floats& n, PyObject* condition);
py::Ref rewrite_dates(PyObject* self, const kinds::Dates& n, PyObject* condition);
py::Ref rewrite_collection(PyObject* self, PyObject* condition);
py::Ref rewrite_mapped_list(const kinds::Map& n, PyObject* condition);

}  // namespace filtering
}  // namespace strategy
