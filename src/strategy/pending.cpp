// Defaults of the seams that later parts of the strategy side fill in: the
// draws of kinds whose rules live beside their constructors, the draw
// against a record that is not native, and the filter rewriting. A part
// defines the strong version in its own sources, which replaces the weak
// one here at link time.
#include "strategy/draw.hpp"
#include "strategy/mod.hpp"

namespace strategy {
namespace {
[[noreturn]] void not_available(const char* what) {
    py::raise(PyExc_NotImplementedError,
              std::string("drawing ") + what + " strategies is not available in this build");
}
}  // namespace

#define QF_PENDING_DRAW(fn, T, what)                                                    \
    __attribute__((weak)) py::Ref fn(const kinds::T&, PyObject*) { not_available(what); }

QF_PENDING_DRAW(draw_sets, Sets, "sets()")
QF_PENDING_DRAW(draw_dictionaries, Dictionaries, "dictionaries()")
QF_PENDING_DRAW(draw_fixed_dictionaries, FixedDictionaries, "fixed_dictionaries()")
QF_PENDING_DRAW(draw_binary, Binary, "binary()")
QF_PENDING_DRAW(draw_filter, Filter, "filtered")
QF_PENDING_DRAW(draw_uuids, Uuids, "uuids()")
QF_PENDING_DRAW(draw_permutations, Permutations, "permutations()")
QF_PENDING_DRAW(draw_builds, Builds, "builds()")
QF_PENDING_DRAW(draw_composite, Composite, "composite")
QF_PENDING_DRAW(draw_dates, Dates, "dates()")
QF_PENDING_DRAW(draw_times, Times, "times()")
QF_PENDING_DRAW(draw_datetimes, Datetimes, "datetimes()")
QF_PENDING_DRAW(draw_timedeltas, Timedeltas, "timedeltas()")
QF_PENDING_DRAW(draw_complex_numbers, ComplexNumbers, "complex_numbers()")
QF_PENDING_DRAW(draw_ip_addresses, IpAddresses, "ip_addresses()")
QF_PENDING_DRAW(draw_slices, Slices, "slices()")
QF_PENDING_DRAW(draw_fractions, Fractions, "fractions()")
QF_PENDING_DRAW(draw_decimals, Decimals, "decimals()")
QF_PENDING_DRAW(draw_data, Data, "data()")
QF_PENDING_DRAW(draw_functions, Functions, "functions()")
QF_PENDING_DRAW(draw_randoms, Randoms, "randoms()")
#undef QF_PENDING_DRAW

__attribute__((weak)) py::Ref draw_node_foreign(const StrategyNode&, PyObject*) {
    py::raise(PyExc_NotImplementedError,
              "drawing a native strategy from a record that is not a BrindlemarData is not "
              "available in this build");
}

__attribute__((weak)) py::Ref filter_strategy(PyObject* self, PyObject* condition) {
    check_not_data(self, "filter");
    return plain_filter(self, condition);
}

}  // namespace strategy

