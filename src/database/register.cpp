// The database registration step: the byte-format functions, then the
// in-memory database class.
#include "database/choice_bytes.hpp"
#include "database/memory_db.hpp"
#include "registry.hpp"

namespace reg {
void database(PyObject* m) {
    database::register_byte_functions(m);  // choices_to_bytes, choices_from_bytes
    database::add_in_memory_database(m);   // InMemoryExampleDatabase
}
}  // namespace reg
