// run_native: one property-based test run over generated examples.
//
// The run is three units that hand each other plain values: generation
// (database replay, the simplest example, the seeded loop, the health
// checks) produces a list of FailureEntry values; failure handling turns
// them into the reported (arguments, exception) pairs; the guard saves and
// restores the thread's run state around both.
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

// The generation phase. Returns the failures found, in order of discovery,
// with `reproduced` set when they came from the database; an empty list
// when the run passed. Raises the health-check and give-up errors.
Failures generate(const RunArgs& a, bool& reproduced);

// Sequence conversions used by the engine's entry points. A str is refused.
RefList ref_list_arg(PyObject* o, const char* name);
// A byte string from bytes or a collections.abc.Sequence of ints 0..255
// (not a str); false when `o` does not convert (no error set).
bool to_byte_string(PyObject* o, std::string& out);

// A fresh record object replaying exactly `choices`.
py::Ref record_for_choices(const RefList& choices);

}  // namespace engine
