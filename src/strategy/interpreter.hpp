// The draw interpreter: turns one StrategyNode into one Python value by
// asking a native record (BrindlemarData) for typed choices.
//
// Native children are drawn inline by a direct call, without a span and
// without any Python call; any other child goes through the record's Python
// method `draw`. Errors throw py::Err with the Python error set; the
// record's StopTest passes through unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "strategy/node.hpp"

namespace strategy {

py::Ref draw_node(const StrategyNode& node, PyObject* record);
py::Ref draw_child(PyObject* child, PyObject* record);

// A bounded integer choice in [lo, hi].
int64_t idraw(PyObject* record, int64_t lo, int64_t hi);
// An index in [0, n), n >= 1.
uint64_t draw_index_rs(PyObject* record, uint64_t n);
// One unforced boolean choice with p = 0.5.
bool draw_fair_boolean(PyObject* record);
// f(x) with exactly one positional argument.
py::Ref call_with_one(PyObject* f, PyObject* x);
// True when `key` is already in `set`, else adds it.
bool seen_before(PyObject* set, PyObject* key);
// Reports a map result to an upstream build context; an ordinary error is
// dropped, an interrupt propagates.
void record_created_call(PyObject* result, PyObject* pack, PyObject* value);
// Ends the test case as invalid and raises the record's StopTest.
[[noreturn]] void mark_invalid(PyObject* record);
// Sets the record's has_discards flag.
void set_has_discards(PyObject* record);
// The number of values of a range object, counted exactly: a range may hold
// more values than len() can report.
mpz_class range_length(PyObject* range);

// Collection sizing: one boolean continue choice per element.
struct Many {
    uint64_t min_size, max_size;
    double p_continue;
    uint64_t count = 0;
    uint64_t rejections = 0;
    bool force_stop = false;

    // p_continue: many_p_continue of the sizes, made with the node.
    Many(uint64_t min_size, uint64_t max_size, double p_continue);
    // Draw one more element?
    bool more(PyObject* record);
    // The element just drawn was rejected; raises StopTest when the
    // collection cannot reach min_size.
    void reject(PyObject* record);
};
// The key functions of a unique_by list (one callable, or an iterable of
// callables), each with the set of keys seen so far.
class UniqueKeys {
public:
    explicit UniqueKeys(PyObject* unique_by);
    // Computes the keys of `value` in order. At the first key already seen
    // answers false (later keys are not computed); otherwise records every
    // key and answers true.
    bool admit(PyObject* value);

private:
    std::vector<py::Ref> fns_, seen_, keys_;
};

// The continue probability of Many for these sizes.
double many_p_continue(uint64_t min_size, uint64_t max_size);

// ---------------------------------------------------------------------------
// Draws of kinds whose rules live beside their constructors, and the draw
// against a record that is not native.
py::Ref draw_sets(const kinds::Sets& n, PyObject* record);
py::Ref draw_dictionaries(const kinds::Dictionaries& n, PyObject* record);
py::Ref draw_fixed_dictionaries(const kinds::FixedDictionaries& n, PyObject* record);
py::Ref draw_binary(const kinds::Binary& n, PyObject* record);
py::Ref draw_filter(const kinds::Filter& n, PyObject* record);
py::Ref draw_uuids(const kinds::Uuids& n, PyObject* record);
py::Ref draw_permutations(const kinds::Permutations& n, PyObject* record);
py::Ref draw_builds(const kinds::Builds& n, PyObject* record);
py::Ref draw_composite(const kinds::Composite& n, PyObject* record);
py::Ref draw_dates(const kinds::Dates& n, PyObject* record);
py::Ref draw_times(const kinds::Times& n, PyObject* record);
py::Ref draw_datetimes(const kinds::Datetimes& n, PyObject* record);
py::Ref draw_timedeltas(const kinds::Timedeltas& n, PyObject* record);
py::Ref draw_complex_numbers(const kinds::ComplexNumbers& n, PyObject* record);
py::Ref draw_ip_addresses(const kinds::IpAddresses& n, PyObject* record);
py::Ref draw_slices(const kinds::Slices& n, PyObject* record);
py::Ref draw_fractions(const kinds::Fractions& n, PyObject* record);
py::Ref draw_decimals(const kinds::Decimals& n, PyObject* record);
py::Ref draw_data(const kinds::Data& n, PyObject* record);
py::Ref draw_functions(const kinds::Functions& n, PyObject* record);
py::Ref draw_randoms(const kinds::Randoms& n, PyObject* record);
py::Ref draw_node_foreign(const StrategyNode& node, PyObject* record);

}  // namespace strategy
