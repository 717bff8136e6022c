// Allocation and release of strategy objects, shared by SearchStrategy and
// the typed views.
#pragma once

#include <new>

#include "strategy/mod.hpp"

namespace strategy {

// Takes the next id of STRATEGY_ID_COUNTER.
uint64_t next_strategy_id();

// Hands an owned reference to the thread's release queue. Objects dropped
// while a strategy object is being freed are released one after another
// rather than from inside each other's deallocators, so freeing a very deep
// strategy chain does not recurse.
void defer_release(py::Ref& r) noexcept;
// Releases what is queued, unless a release is already running further up
// the stack.
void drain_releases() noexcept;

// A new zeroed instance of `type` with a fresh id and a NoneValue node.
template <class T> T* alloc_strategy(PyTypeObject* type) {
    uint64_t id = next_strategy_id();
    PyObject* raw = py::alloc(type);
    T* o = static_cast<T*>(reinterpret_cast<py::DictObject*>(raw));
    o->id = id;
    new (&o->node) StrategyNode();
    return o;
}
inline PyObject* as_object(SearchStrategy* s) { return reinterpret_cast<PyObject*>(s); }

// The common part of every strategy deallocator: queues the node's
// references, destroys the node, drops the instance dict and frees.
void release_strategy(SearchStrategy* s) noexcept;

}  // namespace strategy
