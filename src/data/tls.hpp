// Per-thread state of the record and the strategy code: the buffer limit,
// the inject candidates and the three resolution caches.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "py/py.hpp"

namespace data {

inline constexpr uint64_t BUFFER_SIZE = 8192;

using InferList = std::vector<std::pair<std::string, py::Ref>>;
// identity -> (key object kept alive, resolved value)
using DeferredMap = std::unordered_map<uintptr_t, std::pair<py::Ref, py::Ref>>;
using InferMap = std::unordered_map<std::string, InferList>;
using StrategyMap = std::unordered_map<std::string, py::Ref>;

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

// BUILDS_INFER_CACHE
std::optional<InferList> builds_infer_get(const std::string& key);
void builds_infer_put(const std::string& key, InferList value);
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
