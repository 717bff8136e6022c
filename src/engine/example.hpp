// Running one example: draw every argument through a record, time the
// draws, skip a known path, call the test and classify what happened.
// Every example of the engine (database replays, generated examples, replay
// checks, shrink trials, reproductions) runs through run_one_named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/node_constraints.hpp"
#include "engine/state.hpp"
#include "engine/tree.hpp"
#include "py/py.hpp"

namespace engine {

enum class OutcomeKind : uint8_t { Passed = 0, Rejected = 1, Interesting = 2, Duplicate = 3 };

struct Outcome {
    OutcomeKind kind = OutcomeKind::Passed;
    py::Ref args;  // Interesting: the argument tuple
    py::Ref exc;   // Interesting: the exception instance
};

using RefList = std::vector<py::Ref>;
// The items of `refs`, borrowed (as a record replaying them takes them).
std::vector<PyObject*> borrowed(const RefList& refs);

// The duplicate check of one example against a trie; the path read and
// walked for it stay in `probe` for adding it after the test.
struct TrieCheck {
    const TreeNode& trie;
    Probe& probe;
};

// Runs the test once on `data` (a record object), drawing one value per
// strategy. `names` (may be null) name the arguments in notes on draw
// errors; `check` (may be null) makes a path known to its trie a Duplicate
// without calling the test (`check->probe` is reset first). Throws the error that must leave the caller: an
// error raised while drawing (other than a rejection), or an exception of
// the test that is passed on (skips, interrupts, a StopTest that is not this
// record's own). The record is frozen on every way out. With `time_draws`
// false the argument draws count as taking no time (0.0 in LAST_DRAW_SECS)
// unless the Python clock is on, and the monotonic clock is not read.
Outcome run_one_named(PyObject* test, const RefList& strategies, PyObject* data, const RefList* names,
                      TrieCheck* check, bool time_draws = true);

// Once a failure is found, a replay that meets a misuse of the library (its
// InvalidArgument, or the upstream library's), a skip (pytest's or
// unittest's) or SystemExit is no example of it: when the pending error is
// one of these, drops it and answers true; else leaves it pending (an
// interrupt, pytest's session exit, an exit that formatting a value passed
// out, any other error).
bool drop_not_this_failure();

// The failure origin of an exception instance; throws only when the type's
// name cannot be read.
Origin origin_of(PyObject* exc);
// type(exc).__name__, or "" when it cannot be read. Never fails.
std::string err_name(PyObject* exc);
// The record's choice sequence (new references).
RefList extract_choices(PyObject* data);
// The record's status.
uint8_t record_status(PyObject* data);

}  // namespace engine
