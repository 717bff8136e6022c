// Default registration steps: a step whose subsystem is not built yet adds
// nothing. A subsystem defines its step in its own sources; that strong
// definition replaces the weak default here at link time.
#include "registry.hpp"

#define QF_PENDING_STEP(name) \
    __attribute__((weak)) void name(PyObject*) {}

namespace reg {
QF_PENDING_STEP(float_functions)
QF_PENDING_STEP(interval_set_classes)
QF_PENDING_STEP(choice_functions)
QF_PENDING_STEP(statistics_functions)
QF_PENDING_STEP(record_class)
QF_PENDING_STEP(strategy_classes)
QF_PENDING_STEP(engine)
QF_PENDING_STEP(database)
QF_PENDING_STEP(stateful)
}  // namespace reg
