// The engine's per-thread state and the guard that saves it around a run.
//
// Slots (one set per thread, each borrowed only for the instant of one read,
// write or exchange):
//   SHRINK_CALLS, SLIP_ENABLED, SLIPPED, USE_PY_CLOCK, LAST_DRAW_SECS,
//   SHRINK_REPORT, SHRINK_REPORT_RESULT, MINIMAL_CHOICES,
//   MINIMAL_CHOICES_RESULT.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "choice/choice.hpp"
#include "data/tls.hpp"
#include "engine/rank.hpp"
#include "py/py.hpp"
#include "timing/draw_clock.hpp"

namespace engine {

// Where a failure comes from: the exception type's name and the line of the
// innermost traceback entry (-1 without a traceback).
struct Origin {
    std::string name;
    int64_t line = -1;
    bool operator==(const Origin&) const = default;
};

// One distinct failure: its origin, the choice sequence that produced it,
// the argument tuple and exception of that call, where the sequence stands
// in the order of failures (left empty for a failure met while shrinking,
// which is ranked only once it is shrunk), and the example database's item
// that holds it (the one it was replayed from, or the one saved when it was
// found; empty when none).
struct FailureEntry {
    Origin origin;
    std::vector<py::Ref> choices;
    py::Ref args;
    py::Ref exc;
    Rank rank;
    py::Ref stored;
};
using Failures = std::vector<FailureEntry>;

struct PassEntry {
    std::string pass_name;
    uint64_t calls = 0;
    uint64_t shrinks = 0;
};

// The shrinker's profile: one entry per pass name, in first-recorded order.
struct ShrinkReport {
    std::vector<PassEntry> passes;
    uint64_t total_shrinks = 0;
    bool capped = false;
};

// ---- slot access (calling thread)
uint64_t shrink_calls();
void set_shrink_calls(uint64_t v);

bool slip_enabled();
void set_slip_enabled(bool v);

// SLIPPED: failures of another origin met while shrinking.
Failures take_slipped();
void put_slipped(Failures v);
bool slipped_has(const Origin& origin);
void push_slipped(FailureEntry e);

// The draw clock's slots, saved and restored with the engine's own.
using timing::last_draw_secs;
using timing::set_last_draw_secs;
using timing::set_use_py_clock;
using timing::use_py_clock;

// SHRINK_REPORT: the report of the shrink in progress.
ShrinkReport take_shrink_report();
void put_shrink_report(ShrinkReport v);
// Edits SHRINK_REPORT in place; `edit` must not call Python code.
void update_shrink_report(const std::function<void(ShrinkReport&)>& edit);
// SHRINK_REPORT_RESULT: a copy of the report the last run published.
ShrinkReport shrink_report_result();

// MINIMAL_CHOICES: the primary minimal choice sequence of the run.
void set_minimal_choices(std::vector<py::Ref> v);
// MINIMAL_CHOICES_RESULT: new references to the published sequence.
std::vector<py::Ref> minimal_choices_result();

// ---------------------------------------------------------------------------
// Saves the thread's run state (the engine's slots and the per-run caches of
// the record and the strategies) and installs fresh state; on destruction
// publishes the run's shrink report and minimal choices and puts the saved
// state back. Lives exactly as long as one run, so a run nested in a test
// leaves the outer run as it was.
class RunNativeGuard {
public:
    RunNativeGuard();
    ~RunNativeGuard();
    RunNativeGuard(const RunNativeGuard&) = delete;
    RunNativeGuard& operator=(const RunNativeGuard&) = delete;

private:
    bool slip_enabled_;
    Failures slipped_;
    double last_draw_secs_;
    uint64_t shrink_calls_;
    bool use_py_clock_;
    std::vector<mpz_class> inject_;
    ShrinkReport report_;
    std::vector<py::Ref> minimal_;
    data::DeferredMap deferred_;
    data::InferMap infer_;
    data::StrategyMap strategies_;
};

}  // namespace engine
