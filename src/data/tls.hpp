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
// least recently used first, and past the second number for one target
// (a type that from_type resolves anew on every call makes new argument
// strategies, so each call has a key of its own); inside a run the caches
// are not bounded.
inline constexpr size_t BUILDS_CACHE_LIMIT = 4096;
inline constexpr size_t BUILDS_CACHE_TARGET_LIMIT = 8;

// A text-keyed map that knows which entry was used least recently: a lookup
// or a store makes its entry the most recent. The keys of one target (the
// text before the first '|' or '#', the target's identity in every builds()
// key) form a group, which knows the same order among its own entries.
template <class V>
class LruMap {
    struct Entry;
    using Order = std::list<Entry>;                        // most recent first
    using Members = std::list<typename Order::iterator>;  // of one group, the same
    struct Entry {
        std::string key;
        V value;
        Members* group;
        typename Members::iterator member;
    };

public:
    LruMap() = default;
    LruMap(LruMap&&) = default;
    LruMap& operator=(LruMap&&) = default;
    LruMap(const LruMap&) = delete;  // the index and the groups point into this map's list
    LruMap& operator=(const LruMap&) = delete;

    V* find(const std::string& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return nullptr;
        Entry& e = *it->second;
        order_.splice(order_.begin(), order_, it->second);
        e.group->splice(e.group->begin(), *e.group, e.member);
        return &e.value;
    }
    // Stores v under key; returns the value it replaced (empty when none).
    V put(const std::string& key, V v) {
        if (V* old = find(key)) return std::exchange(*old, std::move(v));
        Members& group = groups_[group_of(key)];
        order_.push_front(Entry{key, std::move(v), &group, {}});
        group.push_front(order_.begin());
        order_.front().member = group.begin();
        index_.emplace(key, order_.begin());
        return V{};
    }
    // Removes the least recently used entries past `limit`; their values go
    // to `out`, for the caller to drop.
    void trim(size_t limit, std::vector<V>& out) {
        while (order_.size() > limit) erase(std::prev(order_.end()), out);
    }
    // The same within the group of `key`.
    void trim_group(const std::string& key, size_t limit, std::vector<V>& out) {
        for (auto g = groups_.find(group_of(key)); g != groups_.end() && g->second.size() > limit;
             g = groups_.find(group_of(key))) {
            erase(g->second.back(), out);
        }
    }
    size_t size() const { return order_.size(); }

private:
    static std::string group_of(const std::string& key) { return key.substr(0, key.find_first_of("|#")); }
    void erase(typename Order::iterator it, std::vector<V>& out) {
        it->group->erase(it->member);
        if (it->group->empty()) groups_.erase(group_of(it->key));
        index_.erase(it->key);
        out.push_back(std::move(it->value));
        order_.erase(it);
    }

    Order order_;
    std::unordered_map<std::string, typename Order::iterator> index_;
    std::unordered_map<std::string, Members> groups_;
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
