// The constraints of one recorded choice. A draw given a constraints dict
// keeps that very dict; the record's own typed draws keep their few fields
// natively and make the dict when something asks for it, once: every later
// request answers the same dict object.
#pragma once

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
    int64_t shrink_towards() const { return i_; }
    double min_f() const { return x_; }
    double max_f() const { return y_; }
    double smallest_f() const { return z_; }
    bool allow_nan() const { return flag_; }
    PyObject* intervals() const { return a_.get(); }
    uint64_t min_size() const { return m_; }
    uint64_t max_size() const { return n_; }
    double p() const { return x_; }

private:
    py::Ref make_dict() const;

    mutable py::Ref dict_;
    py::Ref a_, b_, c_;
    double x_ = 0.0, y_ = 0.0, z_ = 0.0;
    uint64_t m_ = 0, n_ = 0;
    int64_t i_ = 0;
    Form form_ = Form::Dict;
    bool flag_ = false;
};

}  // namespace data
