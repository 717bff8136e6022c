#include "strategy/object.hpp"

#include <atomic>
#include <vector>

namespace strategy {
namespace {

std::atomic<uint64_t> STRATEGY_ID_COUNTER{1};

struct ReleaseQueue {
    std::vector<PyObject*> items;
    bool draining = false;
};
thread_local ReleaseQueue release_queue;

}  // namespace

uint64_t next_strategy_id() { return STRATEGY_ID_COUNTER.fetch_add(1, std::memory_order_relaxed); }

void defer_release(py::Ref& r) noexcept {
    if (!r) return;
    try {
        release_queue.items.push_back(r.get());
        r.release();
    } catch (...) {
        r.reset();  // out of memory: release at once
    }
}

void drain_releases() noexcept {
    ReleaseQueue& q = release_queue;
    if (q.draining) return;
    q.draining = true;
    while (!q.items.empty()) {
        PyObject* o = q.items.back();
        q.items.pop_back();
        Py_DECREF(o);
    }
    q.draining = false;
}

void release_strategy(SearchStrategy* s) noexcept {
    s->node.each_ref([](py::Ref& r) { defer_release(r); });
    s->node.~StrategyNode();
    Py_CLEAR(s->dict);
    py::free_object(as_object(s));
    drain_releases();
}

}  // namespace strategy
