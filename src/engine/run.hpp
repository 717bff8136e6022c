// run_native: one property-based test run over generated examples.
//
// The run is three units that hand each other plain values: generation
// (database replay, the simplest example, the seeded loop, the health
// checks) produces a list of FailureEntry values; failure handling turns
// them into the reported (arguments, exception) pairs; the guard saves and
// restores the thread's run state around both.
#pragma once

#include <string>

#include "engine/run_args.hpp"

namespace engine {

// The generation phase. Returns the failures found, in order of discovery,
// each with the database item that holds it; an empty list when the run
// passed. `reproduced`: they came from the database. Raises the
// health-check and give-up errors.
Failures generate(const RunArgs& a, bool& reproduced);

// Sequence conversions used by the engine's entry points. A str is refused.
RefList ref_list_arg(PyObject* o, const char* name);
// A byte string from bytes or a collections.abc.Sequence of ints 0..255
// (not a str); false when `o` does not convert (no error set).
bool to_byte_string(PyObject* o, std::string& out);

// A fresh record object replaying exactly `choices`.
py::Ref record_for_choices(const RefList& choices);

}  // namespace engine
