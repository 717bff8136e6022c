// The constraints of one recorded choice. A draw given a constraints dict
// keeps that very dict; the record's own typed draws keep their few fields
// natively and make the dict when something asks for it, once: every later
// request answers the same dict object.
#pragma once

#include <bit>
#include <cstdint>

#include "choice/constraints.hpp"
#include "py/py.hpp"

namespace data {

class NodeConstraints {
public:
    enum class Form : uint8_t { Dict, Integer, Float, String, Bytes, Boolean };

    NodeConstraints() = default;
    // The dict as given (a new reference is kept).
    static NodeConstraints of_dict(PyObject* dict);
    // Absent bounds and weights are nullptr; the objects are kept.
    static NodeConstraints integer(PyObject* min, PyObject* max, PyObject* weights, int64_t shrink_towards);
    static NodeConstraints floating(double min, double max, bool allow_nan, double smallest_nonzero_magnitude);
    static NodeConstraints string(PyObject* intervals, uint64_t min_size, uint64_t max_size);
    static NodeConstraints bytes(uint64_t min_size, uint64_t max_size);
    static NodeConstraints boolean(double p);

    Form form() const { return form_; }
    // The dict (borrowed: this object keeps it), made on the first call of a
    // native form; throws when it cannot be made.
    PyObject* dict() const;

    // choice_permitted, choice_to_index and choice_from_index on these
    // constraints: each answers, and fails, as on dict(), but reads a key
    // from the native fields when they hold it; the dict is made only for a
    // key they lack (one the value's type asks for and the form has not).
    bool permits(PyObject* value) const;
    choice::Int to_index(PyObject* value) const;
    py::Ref from_index(const choice::Int& index, choice::ChoiceType t) const;
    // choice::compare_indices of `value` under these constraints and
    // `other` under `other_c`.
    int compare_index(PyObject* value, PyObject* other, const NodeConstraints& other_c) const;

    // The native fields, by form (see the members below for where each is
    // kept). Integer: bound and weight objects (may be nullptr) and
    // shrink_towards. Float: min, max, smallest nonzero magnitude and
    // allow_nan. String: the IntervalSet object and the sizes. Bytes: the
    // sizes. Boolean: p.
    PyObject* min_obj() const { return min_or_intervals_.get(); }
    PyObject* max_obj() const { return max_obj_.get(); }
    PyObject* weights() const { return weights_.get(); }
    int64_t shrink_towards() const { return static_cast<int64_t>(first_); }
    double min_f() const { return std::bit_cast<double>(first_); }
    double max_f() const { return std::bit_cast<double>(second_); }
    double smallest_f() const { return std::bit_cast<double>(smallest_); }
    bool allow_nan() const { return allow_nan_; }
    PyObject* intervals() const { return min_or_intervals_.get(); }
    uint64_t min_size() const { return first_; }
    uint64_t max_size() const { return second_; }
    double p() const { return std::bit_cast<double>(first_); }

    // Calls f on every object kept (nullptr where none).
    template <class F> void each_object(F&& f) const {
        f(dict_.get());
        f(min_or_intervals_.get());
        f(max_obj_.get());
        f(weights_.get());
    }

private:
    py::Ref make_dict() const;

    // Each slot serves the forms named at it, so that a record's nodes, one
    // per choice, stay small. Numbers are kept as 64 bits: a double as its
    // bits, shrink_towards as its two's complement.
    mutable py::Ref dict_;        // the dict: given (Dict), or made on request
    py::Ref min_or_intervals_;    // Integer: min_value (nullptr: none); String: the IntervalSet
    py::Ref max_obj_;             // Integer: max_value (nullptr: none)
    py::Ref weights_;             // Integer: weights (nullptr: none)
    uint64_t first_ = 0;          // Integer: shrink_towards; Float: min_value; String, Bytes: min_size; Boolean: p
    uint64_t second_ = 0;         // Float: max_value; String, Bytes: max_size
    uint64_t smallest_ = 0;       // Float: smallest_nonzero_magnitude
    Form form_ = Form::Dict;
    bool allow_nan_ = false;      // Float: allow_nan
};
// Kept in every recorded choice (NodeData, 80 bytes with it).
static_assert(sizeof(NodeConstraints) == 64, "NodeConstraints grew: a recorded choice would outgrow 80 bytes");

}  // namespace data
