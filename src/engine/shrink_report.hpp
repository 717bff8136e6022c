// The shrinker's profile, recorded in the thread's SHRINK_REPORT slot, and
// the functions that read a finished run's results: shrink_report() and
// minimal_choices().
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/state.hpp"
#include "py/py.hpp"

namespace engine {

// Adds one run of a pass: `calls` trials, `progress` when it replaced the
// best sequence.
void record_pass(ShrinkReport& report, std::string_view name, uint64_t calls, bool progress);
uint64_t total_calls(const ShrinkReport& report);
// (total_calls, total_shrinks, capped, [(pass_name, calls, shrinks), ...])
py::Ref report_to_python(const ShrinkReport& report);

// The same on the calling thread's SHRINK_REPORT.
void record_pass(std::string_view name, uint64_t calls, bool progress);
void reset_shrink_report();
uint64_t report_total_shrinks();
void set_report_capped();

// Registers shrink_report and minimal_choices, in that order.
void register_report_functions(PyObject* module);

}  // namespace engine
