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

    // The native fields, by form. Integer: bound and weight objects (may be
    // nullptr) and shrink_towards. Float: min, max, smallest nonzero
    // magnitude and allow_nan. String: the IntervalSet object and the
    // sizes. Bytes: the sizes. Boolean: p.
    PyObject* min_obj() const { return a_.get(); }
    PyObject* max_obj() const { return b_.get(); }
    PyObject* weights() const { return c_.get(); }
    int64_t shrink_towards() const { return static_cast<int64_t>(n0_); }
    double min_f() const { return std::bit_cast<double>(n0_); }
    double max_f() const { return std::bit_cast<double>(n1_); }
    double smallest_f() const { return std::bit_cast<double>(n2_); }
    bool allow_nan() const { return flag_; }
    PyObject* intervals() const { return a_.get(); }
    uint64_t min_size() const { return n0_; }
    uint64_t max_size() const { return n1_; }
    double p() const { return std::bit_cast<double>(n0_); }

    // Calls f on every object kept (nullptr where none).
    template <class F> void each_object(F&& f) const {
        f(dict_.get());
        f(a_.get());
        f(b_.get());
        f(c_.get());
    }

private:
    py::Ref make_dict() const;

    mutable py::Ref dict_;
    py::Ref a_, b_, c_;
    // The form's numbers, in the order of the accessors above (a node keeps
    // one record of constraints per choice: they stay small).
    uint64_t n0_ = 0, n1_ = 0, n2_ = 0;
    Form form_ = Form::Dict;
    bool flag_ = false;
};

}  // namespace data
