// Type resolution: Python types and typing constructs turned into strategies.
//
// `from_type` is the entry every nested resolution goes through (NewType
// supertypes, forward references, generic arguments, class fields, builds
// inference), so the FROM_TYPE_INPROGRESS guard sees each of them. Results
// are built by calling the module's own constructor functions by name on
// `quorvantis_fast._engine`; what the native chain cannot finish goes to the
// Python-level `quorvantis_fast.strategies.from_type`.
//
// Every function throws py::Err with the Python error set on failure.
#pragma once

#include "py/py.hpp"
#include "strategy/guards.hpp"

namespace strategy::typeres {

// The strategy for `thing` (borrowed). A thing whose resolution is already
// running on this thread answers `deferred(partial(from_type, thing))`, the
// same object for every reference made while that resolution runs. When the
// resolution of a thing referred to the thing itself, its result is kept for
// the rest of the run (with the builds() strategies), so each later draw of
// such a reference finds it at once instead of resolving the thing again.
// The classes of a cycle (A -> B -> C -> A) are each kept the same way, and
// each is referred to from within the cycle through its own lazy reference,
// as the cycle would be written by hand: every class is resolved once per
// run, and a draw nests as deep as one class's fields between two deferred
// draws, so the deferred depth bound ends a deep value before the
// interpreter's recursion limit does.
py::Ref from_type(PyObject* thing);

// The resolution of one thing on this thread: its FROM_TYPE_INPROGRESS entry
// and the one lazy reference to the thing handed out while it runs. Only the
// outermost frame of a thing is active; inner ones change nothing.
class ResolutionFrame {
public:
    explicit ResolutionFrame(PyObject* thing);
    ~ResolutionFrame();
    ResolutionFrame(const ResolutionFrame&) = delete;
    ResolutionFrame& operator=(const ResolutionFrame&) = delete;
    // Was the thing referred to while this frame was active?
    bool referenced() const { return static_cast<bool>(lazy_); }
    // Did this resolution lead back to a thing of an outer active frame, so
    // that the thing lies on a cycle through it?
    bool on_cycle() const { return on_cycle_; }
    // `deferred(partial(from_type, thing))` for this frame's thing: the one
    // every reference to it shares, made at the first.
    py::Ref lazy();
    // The same for a thing in progress: the lazy reference of its active
    // frame. Every active frame inside that one is marked as on its cycle.
    static py::Ref reference(PyObject* thing);

private:
    InProgressGuard guard_;
    PyObject* thing_;  // borrowed: the frame's owner holds it
    py::Ref lazy_;
    bool on_cycle_ = false;
    ResolutionFrame* outer_ = nullptr;
};

// Called by builds inference whose target was referred to while it ran:
// what those references resolve to when drawn, `from_type(target)`, is kept
// for the run too, although that resolution meets only the kept classes of
// the cycle and so no reference to the target itself.
void note_cyclic(PyObject* target);

// The resolution chain itself, without the guard.
py::Ref from_type_impl(PyObject* thing);

// A registry entry (a strategy, or a callable taking the type) applied to
// `thing`: a strategy, or an empty Ref when the callable answered
// NotImplemented.
py::Ref resolve_registry_entry(PyObject* entry, PyObject* thing);

// The registered strategies of the registered subclasses of `thing` without
// a registered ancestor below it: one strategy, a one_of, or empty.
py::Ref resolve_via_subclasses(PyObject* thing);

// The draw-time resolution of an abstract class (cached per run in
// DEFERRED_RESOLVED).
py::Ref resolve_abstract(PyObject* thing);

}  // namespace strategy::typeres
