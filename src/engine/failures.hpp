// What a run does with the failures that generation found: decide which to
// report, keep the primary minimal choice sequence and save sequences in the
// example database.
#pragma once

#include "engine/run_args.hpp"

namespace engine {

// Turns the failures of a run (not empty, in order of discovery) into the
// reported (arguments, exception) pairs. `reproduced`: they were all
// replayed from the database.
Reported handle_failures(const RunArgs& a, Failures failures, bool reproduced);

// The run's database key as a bytes object (a run that uses a database).
py::Ref key_bytes(const RunArgs& a);
// Stores a choice sequence under the run's key when the run uses a
// database; the bytes object the database took, or empty when it did not.
// Encoding and database errors are dropped.
py::Ref save_choices(const RunArgs& a, const RefList& choices);
// Deletes a stored item under the run's key (a run that uses a database).
// Database errors are dropped.
void delete_stored(const RunArgs& a, PyObject* item);

// The database item that holds one failure while the run goes on: the item
// it was replayed from, or the sequence saved when it was found, then each
// simpler sequence put in its place. A sequence takes the item's place by
// being saved first; the item it replaces is deleted only once that save
// succeeded, so that the database holds the failure, or a simpler one, at
// every moment.
class StoredFailure {
public:
    // `item` (may be empty): the item that holds the failure now;
    // `replayed`: it came from the database rather than from this run.
    StoredFailure(const RunArgs& a, py::Ref item, bool replayed)
        : a_(a), item_(std::move(item)), replayed_(replayed) {}
    StoredFailure(const StoredFailure&) = delete;
    StoredFailure& operator=(const StoredFailure&) = delete;

    // Puts `choices` in the item's place; nothing when the item holds them.
    void replace(const RefList& choices) { put(choices, false); }
    // The same for the failure's final sequence, which an item replayed
    // from the database is saved as again even when unchanged.
    void settle(const RefList& choices) { put(choices, replayed_); }
    // Deletes an item this run saved, for a failure that is not kept.
    void drop();
    // Whether the item holds `choices`.
    bool holds(const RefList& choices) const;

private:
    void put(const RefList& choices, bool save_unchanged);
    bool holds(PyObject* value) const;

    const RunArgs& a_;
    py::Ref item_;
    bool replayed_;
};

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
