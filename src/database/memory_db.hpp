#pragma once

#include "py/py.hpp"

namespace database {
// Adds the class InMemoryExampleDatabase to the module (and __all__).
void add_in_memory_database(PyObject* module);
}  // namespace database
