// The end of a run that found failures: the replay check of a single
// failure, shrinking, confirmation, saving to the example database, the
// failures of other origins met while shrinking, and the reported result.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/failure.hpp"
#include "engine/shrinker.hpp"
#include "py/py.hpp"

namespace engine {

struct FailureSettings {
    PyObject* database = nullptr;           // borrowed; used only with db_key
    std::optional<std::string_view> db_key;
    bool report_multiple_bugs = false;
    uint64_t max_shrinks = 500;
};

using FailureReport = std::vector<std::pair<py::Ref, py::Ref>>;  // (args, exc)

// `failures` in order of discovery, not empty; `reproduced` when a stored
// database value reproduced them. Throws py::Err with the error that ends
// the run (FlakyFailure among them).
FailureReport finish_failures(Replayer& replayer, const FailureSettings& settings,
                              Failures failures, bool reproduced);

// A FlakyFailure instance made with (message, exceptions), or
// AssertionError(message) when no such class can be made.
py::Ref flaky_failure(const char* message, std::initializer_list<PyObject*> exceptions);

inline constexpr const char* INCONSISTENT_REPLAY = "Inconsistent results from replaying a test case!";
inline constexpr const char* FALSIFIED_ONCE =
    "Falsified on the first call but did not on a subsequent one";

}  // namespace engine
