// Per-thread state of the record and the strategy code: the buffer limit,
// the inject candidates and the three resolution caches.
#pragma once

#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "py/py.hpp"

namespace data {

inline constexpr uint64_t BUFFER_SIZE = 8192;

// Entries past this many are trimmed from a builds() cache outside a run,
// least recently used first; inside a run the caches are not bounded.
inline constexpr size_t BUILDS_CACHE_LIMIT = 4096;

// A text-keyed map that knows which entry was used least recently: a lookup
// or a store makes its entry the most recent.
template <class V>
class LruMap {
public:
    LruMap() = default;
    LruMap(LruMap&&) = default;
    LruMap& operator=(LruMap&&) = default;
    LruMap(const LruMap&) = delete;  // the index points into this map's list
    LruMap& operator=(const LruMap&) = delete;

    V* find(const std::string& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return &it->second->second;
    }
    // Stores v under key; returns the value it replaced (empty when none).
    V put(const std::string& key, V v) {
        if (V* old = find(key)) return std::exchange(*old, std::move(v));
        order_.emplace_front(key, std::move(v));
        index_.emplace(key, order_.begin());
        return V{};
    }
    // Removes the least recently used entries past `limit`; their values go
    // to `out`, for the caller to drop.
    void trim(size_t limit, std::vector<V>& out) {
        while (order_.size() > limit) {
            index_.erase(order_.back().first);
            out.push_back(std::move(order_.back().second));
            order_.pop_back();
        }
    }
    size_t size() const { return order_.size(); }

private:
    std::list<std::pair<std::string, V>> order_;  // most recent first
    std::unordered_map<std::string, typename std::list<std::pair<std::string, V>>::iterator> index_;
};

using InferList = std::vector<std::pair<std::string, py::Ref>>;
// The inferred arguments of a target, which the entry keeps alive: the key
// holds the target's identity.
struct InferEntry {
    py::Ref target;
    InferList args;
};
// identity -> (key object kept alive, resolved value)
using DeferredMap = std::unordered_map<uintptr_t, std::pair<py::Ref, py::Ref>>;
using InferMap = LruMap<InferEntry>;
using StrategyMap = LruMap<py::Ref>;

// BUFFER_LIMIT, or BUFFER_SIZE when none is set.
uint64_t buffer_limit();
std::optional<uint64_t> buffer_limit_slot();
void set_buffer_limit_slot(std::optional<uint64_t> v);

// INJECT_CANDIDATES
void set_inject_candidates(std::vector<mpz_class> candidates);
void clear_inject_candidates();
// Read in place for one pick; empty when none are installed.
const std::vector<mpz_class>& inject_candidates();
std::vector<mpz_class> take_inject_candidates();

// DEFERRED_RESOLVED
py::Ref deferred_get(PyObject* key);
void deferred_put(PyObject* key, py::Ref value);
DeferredMap take_deferred_cache();
void put_deferred_cache(DeferredMap m);

// How many runs are in progress on this thread: the engine's guard counts
// them in and out.
void enter_run();
void leave_run();

// BUILDS_INFER_CACHE
std::optional<InferList> builds_infer_get(const std::string& key);
void builds_infer_put(const std::string& key, PyObject* target, InferList value);
InferMap take_builds_infer_cache();
void put_builds_infer_cache(InferMap m);

// BUILDS_STRATEGY_CACHE
py::Ref builds_strategy_get(const std::string& key);
void builds_strategy_put(const std::string& key, py::Ref strategy);
StrategyMap take_builds_strategy_cache();
void put_builds_strategy_cache(StrategyMap m);

// The process-wide constraints dict of an unbounded integer (borrowed).
PyObject* unbounded_int_constraints();

// Registers set_buffer_limit, clear_buffer_limit, _clear_resolution_caches.
void register_cache_functions(PyObject* module);

}  // namespace data
