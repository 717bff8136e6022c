// Allocation and release of strategy objects, shared by SearchStrategy and
// the typed views.
#pragma once

#include <new>

#include "strategy/object.hpp"

namespace strategy {

// Takes the next id of STRATEGY_ID_COUNTER.
uint64_t next_strategy_id();

// Drops a reference held by a strategy object that is being freed. Up to a
// fixed nesting of such frees the reference is released at once; deeper
// ones are queued and released by the outermost free, one after another, so
// freeing a very deep strategy chain does not recurse without bound.
void release_ref(py::Ref& r) noexcept;

// A new zeroed instance of `type` with a fresh id and the node, settled.
template <class T> T* alloc_strategy(PyTypeObject* type, StrategyNode&& node) {
    uint64_t id = next_strategy_id();
    PyObject* raw = py::alloc(type);
    T* o = static_cast<T*>(reinterpret_cast<py::DictObject*>(raw));
    o->id = id;
    new (&o->node) StrategyNode(std::move(node));
    o->node.settle();
    return o;
}
inline PyObject* as_object(SearchStrategy* s) { return reinterpret_cast<PyObject*>(s); }

// The end of every strategy deallocator, which has untracked the object and
// released a view's own fields: queues the node's references, destroys the
// node, drops the instance dict and frees.
void release_strategy(SearchStrategy* s) noexcept;

// What the collector sees of a strategy object: its class, its instance dict
// and every reference of its node. A view reports its own fields to the
// visitor before taking the result.
py::Visitor visit_strategy(SearchStrategy* s, visitproc visit, void* arg) noexcept;

// The tp_clear of every strategy class. It drops only the instance dict, the
// one part of a strategy that changes after it is made: the node and a view's
// fields are fixed at creation, so, as with a tuple, a cycle through them
// passes through an object changed later, whose own clear breaks it. A
// cleared strategy draws as before.
int clear_strategy(PyObject* self) noexcept;

}  // namespace strategy
