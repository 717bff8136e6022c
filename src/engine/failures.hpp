// What a run does with the failures that generation found: decide which to
// report, keep the primary minimal choice sequence and save sequences in the
// example database.
#pragma once

#include "engine/run_args.hpp"

namespace engine {

// Turns the failures of a run (not empty, in order of discovery) into the
// reported (arguments, exception) pairs. `stored` is empty, or holds the
// database item each failure was replayed from.
Reported handle_failures(const RunArgs& a, Failures failures, RefList stored);

// The run's database key as a bytes object (a run that uses a database).
py::Ref key_bytes(const RunArgs& a);
// Stores a choice sequence under the run's key when the run uses a
// database; true when the database took it (its bytes then go to `saved`,
// when given). Encoding and database errors are dropped.
bool save_choices(const RunArgs& a, const RefList& choices, std::string* saved = nullptr);
// Deletes a stored item under the run's key (a run that uses a database).
// Database errors are dropped.
void delete_stored(const RunArgs& a, PyObject* item);

// An instance of the first of the named exception classes that can be
// imported and called with (message) (or (message, extra) when `extra` is
// given); failing that, `fallback(message)`. Each class is looked up anew.
struct ErrorSource {
    const char* module;
    const char* name;
};
py::Ref make_run_error(std::initializer_list<ErrorSource> sources, PyObject* fallback,
                       const std::string& message, PyObject* extra = nullptr);
// Sets `exc` as the pending error and throws py::Err.
[[noreturn]] void raise_instance(PyObject* exc);

}  // namespace engine
