// The module's strategy functions, in their fixed registration order.
//
// Each constructor's sources define its method definition as
// `strategy::defs::NAME`.
#include "py/py.hpp"
#include "registry.hpp"

#define QF_STRATEGY_FUNCTIONS(X)                                                      \
    X(integers) X(booleans) X(floats) X(none) X(just) X(nothing) X(sampled_from)      \
    X(one_of) X(tuples) X(lists) X(sets) X(frozensets) X(dictionaries)                \
    X(fixed_dictionaries) X(text) X(characters) X(binary) X(uuids) X(permutations)    \
    X(builds) X(_composite_strategy) X(dates) X(times) X(datetimes) X(timedeltas)     \
    X(complex_numbers) X(ip_addresses) X(deferred) X(slices) X(fractions) X(decimals) \
    X(recursive) X(data) X(from_type) X(_resolve_abstract) X(randoms)                 \
    X(_functions_strategy) X(iterables) X(emails) X(can_hash) X(_regex_alphabet_intervals)

namespace strategy::defs {
#define QF_DECLARE(name) extern PyMethodDef name;
QF_STRATEGY_FUNCTIONS(QF_DECLARE)
#undef QF_DECLARE
}  // namespace strategy::defs

namespace reg {
void strategy_functions(PyObject* m) {
#define QF_ENTRY_OF(name) &::strategy::defs::name,
    PyMethodDef* const table[] = {QF_STRATEGY_FUNCTIONS(QF_ENTRY_OF)};
#undef QF_ENTRY_OF
    for (PyMethodDef* def : table) py::add_function(m, def);
}
}  // namespace reg
