#include "strategy/lifetime.hpp"

#include <atomic>
#include <vector>

namespace strategy {
namespace {

std::atomic<uint64_t> STRATEGY_ID_COUNTER{1};

// Only plain values here: a strategy may be freed while the thread's other
// thread-local state is being torn down.
constexpr int DIRECT_RELEASE_DEPTH = 64;
thread_local int release_depth = 0;
thread_local bool draining = false;
thread_local std::vector<PyObject*>* pending = nullptr;

void drain_releases() noexcept {
    if (draining || !pending) return;
    draining = true;
    while (!pending->empty()) {
        // Taken off the queue before it is dropped: the drop may queue more.
        py::Ref o = py::Ref::steal(pending->back());
        pending->pop_back();
    }
    delete pending;
    pending = nullptr;
    draining = false;
}

}  // namespace

uint64_t next_strategy_id() { return STRATEGY_ID_COUNTER.fetch_add(1, std::memory_order_relaxed); }

void release_ref(py::Ref& r) noexcept {
    if (!r) return;
    if (release_depth < DIRECT_RELEASE_DEPTH) return r.reset();
    try {
        if (!pending) pending = new std::vector<PyObject*>();
        pending->push_back(r.get());
        r.release();
    } catch (...) {
        r.reset();  // out of memory: release at once
    }
}

void release_strategy(SearchStrategy* s) noexcept {
    ++release_depth;
    s->node.each_ref([](py::Ref& r) { release_ref(r); });
    s->node.~StrategyNode();
    py::clear_field(s->dict);
    py::free_object(as_object(s));
    if (--release_depth == 0) drain_releases();
}

py::Visitor visit_strategy(SearchStrategy* s, visitproc visit, void* arg) noexcept {
    py::Visitor v(as_object(s), visit, arg);
    v(s->dict);
    s->node.each_ref(v);
    return v;
}

int clear_strategy(PyObject* self) noexcept {
    py::clear_field(reinterpret_cast<py::DictObject*>(self)->dict);
    return 0;
}

}  // namespace strategy
