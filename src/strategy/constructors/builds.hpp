// builds(): strategies that call a target with drawn arguments, inferring
// the keyword arguments the caller left out from the target's annotations.
//
// Both caches of a run (data/tls.hpp) serve here: BUILDS_STRATEGY_CACHE maps
// the identities of a call's objects to the strategy it returned, and
// BUILDS_INFER_CACHE maps (target, given keyword names) to what inference
// added. from_type keeps in the first, under keys of its own, what a thing
// on a cycle of references (to itself, or through other classes) resolved
// to (strategy/typeres/typeres.hpp). Every function throws py::Err with the
// Python error set on failure.
#pragma once

#include "py/py.hpp"

namespace strategy {

// Fills `kwargs` (a dict, changed in place) with strategies for the
// parameters of `target` that `extra` (a tuple) and `kwargs` leave open,
// and replaces `...` values by inferred strategies.
void infer_builds_kwargs(PyObject* target, PyObject* extra, PyObject* kwargs);

// Is the annotation, or any of its typing.get_args items at any depth, a
// typing.ForwardRef? An ordinary error means no; an interrupt propagates.
bool ann_has_forwardref(PyObject* annotation);

// Does the target carry a truthy __no_type_check__? A failing lookup or
// truth test answers no.
bool no_type_check_set(PyObject* target);

}  // namespace strategy
