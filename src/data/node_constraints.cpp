// The constraints a node keeps: the native forms' constructors, the dict
// made from them on request, and the choice functions read through the
// native fields without making it.
#include "data/node_constraints.hpp"

#include "choice/choice.hpp"
#include "data/tls.hpp"

namespace data {

using choice::Key;
using choice::key_object;

NodeConstraints NodeConstraints::of_dict(PyObject* dict) {
    NodeConstraints c;
    c.dict_ = py::Ref::borrow(dict);
    return c;
}

NodeConstraints NodeConstraints::integer(PyObject* min, PyObject* max, PyObject* weights,
                                         int64_t shrink_towards) {
    NodeConstraints c;
    c.form_ = Form::Integer;
    c.min_or_intervals_ = py::Ref::borrow(min);
    c.max_obj_ = py::Ref::borrow(max);
    c.weights_ = py::Ref::borrow(weights);
    c.first_ = static_cast<uint64_t>(shrink_towards);
    return c;
}

NodeConstraints NodeConstraints::floating(double min, double max, bool allow_nan,
                                          double smallest_nonzero_magnitude) {
    NodeConstraints c;
    c.form_ = Form::Float;
    c.first_ = std::bit_cast<uint64_t>(min);
    c.second_ = std::bit_cast<uint64_t>(max);
    c.smallest_ = std::bit_cast<uint64_t>(smallest_nonzero_magnitude);
    c.allow_nan_ = allow_nan;
    return c;
}

NodeConstraints NodeConstraints::string(PyObject* intervals, uint64_t min_size, uint64_t max_size) {
    NodeConstraints c;
    c.form_ = Form::String;
    c.min_or_intervals_ = py::Ref::borrow(intervals);
    c.first_ = min_size;
    c.second_ = max_size;
    return c;
}

NodeConstraints NodeConstraints::bytes(uint64_t min_size, uint64_t max_size) {
    NodeConstraints c;
    c.form_ = Form::Bytes;
    c.first_ = min_size;
    c.second_ = max_size;
    return c;
}

NodeConstraints NodeConstraints::boolean(double p) {
    NodeConstraints c;
    c.form_ = Form::Boolean;
    c.first_ = std::bit_cast<uint64_t>(p);
    return c;
}

namespace {

// A new dict of the pairs, in order (values borrowed).
py::Ref dict_of(std::initializer_list<std::pair<Key, PyObject*>> items) {
    py::Ref d = py::new_dict();
    for (const auto& [key, value] : items) py::check_rc(PyDict_SetItem(d.get(), key_object(key), value));
    return d;
}

PyObject* or_none(PyObject* o) { return o ? o : Py_None; }

}  // namespace

// Every key of the type, in the order of the table of keys.
py::Ref NodeConstraints::make_dict() const {
    switch (form_) {
    case Form::Dict: break;
    case Form::Integer: {
        // Unbounded, unweighted draws towards 0 share one dict.
        if (!min_obj() && !max_obj() && !weights() && shrink_towards() == 0) return py::Ref::borrow(unbounded_int_constraints());
        py::Ref st = py::from_i64(shrink_towards());
        return dict_of({{Key::MinValue, or_none(min_obj())},
                        {Key::MaxValue, or_none(max_obj())},
                        {Key::Weights, or_none(weights())},
                        {Key::ShrinkTowards, st.get()}});
    }
    case Form::Float: {
        py::Ref lo = py::from_double(min_f()), hi = py::from_double(max_f()), smallest = py::from_double(smallest_f());
        return dict_of({{Key::MinValue, lo.get()},
                        {Key::MaxValue, hi.get()},
                        {Key::AllowNan, allow_nan() ? Py_True : Py_False},
                        {Key::SmallestNonzeroMagnitude, smallest.get()}});
    }
    case Form::String: {
        py::Ref lo = py::from_u64(min_size()), hi = py::from_u64(max_size());
        return dict_of({{Key::Intervals, intervals()}, {Key::MinSize, lo.get()}, {Key::MaxSize, hi.get()}});
    }
    case Form::Bytes: {
        py::Ref lo = py::from_u64(min_size()), hi = py::from_u64(max_size());
        return dict_of({{Key::MinSize, lo.get()}, {Key::MaxSize, hi.get()}});
    }
    case Form::Boolean: {
        py::Ref p = py::from_double(this->p());
        return dict_of({{Key::P, p.get()}});
    }
    }
    py::throw_fault("constraints without a dict");
}

PyObject* NodeConstraints::dict() const {
    if (!dict_) {
        py::Ref d = make_dict();
        // Making it may run Python code that asked for it first: keep that one.
        if (!dict_) dict_ = std::move(d);
    }
    return dict_.get();
}

namespace {

using choice::Int;
using Form = NodeConstraints::Form;

// The constraints as the choice functions read them: a key from the native
// fields when the form holds it, else from the dict.
class Fields final : public choice::ConstraintsSource {
public:
    explicit Fields(const NodeConstraints& c) : c_(c) {}

    double p() const override { return is(Form::Boolean) ? c_.p() : choice::req_f64(dict(), Key::P); }
    std::optional<Int> min_value() const override {
        return is(Form::Integer) ? bound(c_.min_obj()) : choice::opt_bigint(dict(), Key::MinValue);
    }
    std::optional<Int> max_value() const override {
        return is(Form::Integer) ? bound(c_.max_obj()) : choice::opt_bigint(dict(), Key::MaxValue);
    }
    Int shrink_towards() const override {
        return is(Form::Integer) ? Int(c_.shrink_towards()) : choice::req_int(dict(), Key::ShrinkTowards);
    }
    choice::FloatConstraints floating() const override {
        if (!is(Form::Float)) return choice::parse_float(dict());
        return {c_.min_f(), c_.max_f(), c_.allow_nan(), c_.smallest_f()};
    }
    uint64_t min_size() const override { return sized() ? c_.min_size() : choice::req_u64(dict(), Key::MinSize); }
    uint64_t max_size() const override { return sized() ? c_.max_size() : choice::req_u64(dict(), Key::MaxSize); }
    py::Ref intervals() const override {
        return is(Form::String) ? choice::as_intervals(c_.intervals()) : choice::req_intervals(dict());
    }

private:
    bool is(Form f) const { return c_.form() == f; }
    bool sized() const { return is(Form::String) || is(Form::Bytes); }
    PyObject* dict() const {
        PyObject* d = c_.dict();
        if (!PyDict_Check(d)) py::raise_cannot_convert(d, "PyDict");
        return d;
    }
    // An integer bound as the dict holds it: absent is None.
    static std::optional<Int> bound(PyObject* o) {
        if (!o || o == Py_None) return std::nullopt;
        py::Ref hold = py::Ref::borrow(o);
        return Int::from_py(o);
    }

    const NodeConstraints& c_;
};

}  // namespace

bool NodeConstraints::permits(PyObject* value) const { return choice::choice_permitted(value, Fields(*this)); }

Int NodeConstraints::to_index(PyObject* value) const { return choice::choice_to_index(value, Fields(*this)); }

int NodeConstraints::compare_index(PyObject* value, PyObject* other, const NodeConstraints& other_c) const {
    return choice::compare_indices(value, Fields(*this), other, Fields(other_c));
}

py::Ref NodeConstraints::from_index(const Int& index, choice::ChoiceType t) const {
    return choice::choice_from_index(index, t, Fields(*this));
}

}  // namespace data
