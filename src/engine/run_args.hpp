// The values the units of a run hand each other: the converted arguments of
// run_native and the reported (arguments, exception) pairs.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/example.hpp"
#include "engine/state.hpp"

namespace engine {

// The converted arguments of run_native.
struct RunArgs {
    py::Ref test;
    RefList strategies;
    uint32_t max_examples = 100;
    uint64_t seed = 0;
    py::Ref database;                   // empty: none
    std::optional<std::string> db_key;  // absent: none
    bool report_multiple_bugs = false;
    std::optional<RefList> names;       // str objects
    py::Ref executor;                   // empty: none
    std::optional<RefList> suppress_health_check;  // str objects
    uint64_t invalid_cap = 0;
    py::Ref test_name;  // str; empty: "test"
    double deadline_ms = 0.0;
    uint64_t max_shrinks = 500;

    // Both a database and a key were given.
    bool uses_database() const { return database && db_key; }
};

using Reported = std::vector<std::pair<py::Ref, py::Ref>>;  // (args tuple, exception)

}  // namespace engine
