// The database registration step: the byte-format functions, then the
// in-memory database class.
#include "database/choice_bytes.hpp"
#include "registry.hpp"

namespace reg {
void database(PyObject* m) {
    database::register_byte_functions(m);  // choices_to_bytes, choices_from_bytes
    // InMemoryExampleDatabase follows here.
}
}  // namespace reg
