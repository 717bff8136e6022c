// Draws of the Slices, Fractions and Decimals kinds.
#include <algorithm>
#include <cstdlib>

#include "data/record.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/scalars.hpp"

namespace strategy {

namespace {

// An integer choice between optional bounds given as Python ints.
py::Ref draw_int_between(PyObject* record, PyObject* lo, PyObject* hi) {
    data::RecordMut r(record);
    return r->draw_integer_obj(lo, hi, nullptr, 0);
}

// A numerator whose quotient by `denominator` lies within the bounds: the
// bounds are converted with Fraction (to one of Python ints, so that no
// fixed-width integer type takes part), scaled by the denominator and rounded
// inwards. An empty range ends the test case as invalid.
py::Ref draw_scaled_numerator(PyObject* record, PyObject* fraction, PyObject* min_value, PyObject* max_value,
                              PyObject* denominator, bool multiply_by_method) {
    py::Ref lo, hi;
    if (min_value || max_value) {
        py::Ref math = py::import("math");
        auto scaled = [&](PyObject* bound, const char* rounding) {
            py::Ref f = fraction_of_ints(fraction, call_with_one(fraction, bound).get());
            py::Ref product = multiply_by_method ? py::call_method(f.get(), "__mul__", denominator)
                                                 : py::check(PyNumber_Multiply(f.get(), denominator));
            return py::call_method(math.get(), rounding, product.get());
        };
        if (min_value) lo = scaled(min_value, "ceil");
        if (max_value) hi = scaled(max_value, "floor");
        if (lo && hi) {
            int empty = PyObject_RichCompareBool(lo.get(), hi.get(), Py_GT);
            if (empty < 0) throw py::Err{};
            if (empty) mark_invalid(record);
        }
    }
    return draw_int_between(record, lo.get(), hi.get());
}

py::Ref none_or(const std::optional<int64_t>& v) { return v ? py::from_i64(*v) : py::none(); }

}  // namespace

py::Ref draw_slices(const kinds::Slices& node, PyObject* record) {
    const int64_t n = node.size;
    py::Ref builtin_slice = py::import_attr("builtins", "slice");
    if (n == 0) {
        if (!draw_fair_boolean(record)) {
            return py::call_args(builtin_slice.get(), py::tuple_of({Py_None, Py_None, Py_None}).get());
        }
        py::Ref step = draw_int_between(record, nullptr, nullptr);
        int zero = PyObject_Not(step.get());
        if (zero < 0) throw py::Err{};
        if (zero) step = py::from_i64(1);
        return py::call_args(builtin_slice.get(), py::tuple_of({Py_None, Py_None, step.get()}).get());
    }
    std::optional<int64_t> start, stop;
    if (!draw_fair_boolean(record)) start = idraw(record, 0, n - 1);
    if (!draw_fair_boolean(record)) stop = idraw(record, 0, n);
    int64_t max_step;
    if (!start && !stop) max_step = n;
    else if (!start) max_step = *stop;
    else if (!stop) max_step = *start;
    else max_step = std::llabs(*start - *stop);
    if (max_step < 2) max_step = 1;
    int64_t step = idraw(record, 1, max_step);
    const bool flip = draw_fair_boolean(record);
    if ((flip && start == stop) || stop.value_or(0) < start.value_or(0)) step = -step;
    if (draw_fair_boolean(record) && start) *start -= n;
    if (draw_fair_boolean(record) && stop) *stop -= n;
    const bool keep_step = draw_fair_boolean(record);
    py::Ref step_obj = (!keep_step && step == 1) ? py::none() : py::from_i64(step);
    py::Ref a = none_or(start), b = none_or(stop);
    return py::call_args(builtin_slice.get(), py::tuple_of({a.get(), b.get(), step_obj.get()}).get());
}

py::Ref draw_fractions(const kinds::Fractions& node, PyObject* record) {
    py::Ref fraction = py::import_attr("fractions", "Fraction");
    py::Ref d = py::from_i64(idraw(record, 1, node.max_denominator));
    py::Ref numerator = draw_scaled_numerator(record, fraction.get(), node.min_value.get(), node.max_value.get(),
                                              d.get(), true);
    return py::call(fraction.get(), numerator.get(), d.get());
}

py::Ref draw_decimals(const kinds::Decimals& node, PyObject* record) {
    py::Ref decimal = py::import("decimal");
    py::Ref fraction = py::import_attr("fractions", "Fraction");
    const int32_t places = std::clamp<int32_t>(node.places.value_or(3), 0, 12);
    py::Ref scale = py::from_i64([&] {
        int64_t s = 1;
        for (int32_t i = 0; i < places; ++i) s *= 10;
        return s;
    }());
    py::Ref numerator = draw_scaled_numerator(record, fraction.get(), node.min_value.get(), node.max_value.get(),
                                              scale.get(), false);

    // numerator / 10**places is exact with as many digits as the numerator
    // has, so it is computed in a context of that precision (and the widest
    // exponent range) rather than the caller's, whose precision could round
    // the value past its bounds.
    py::Ref bit_length = py::call_method(numerator.get(), "bit_length");
    const size_t bits = PyLong_AsSize_t(bit_length.get());
    if (bits == static_cast<size_t>(-1) && PyErr_Occurred()) throw py::Err{};
    const size_t digits = bits * 30103 / 100000 + 2;
    py::Ref prec = py::check(PyLong_FromSize_t(std::max<size_t>(digits, 28)));
    py::Ref kwargs = py::new_dict();
    py::dict_set(kwargs.get(), "prec", prec.get());
    py::dict_set(kwargs.get(), "Emax", py::getattr(decimal.get(), "MAX_EMAX").get());
    py::dict_set(kwargs.get(), "Emin", py::getattr(decimal.get(), "MIN_EMIN").get());
    py::Ref context_cls = py::getattr(decimal.get(), "Context");
    py::Ref empty = py::check(PyTuple_New(0));
    py::Ref context = py::call_args(context_cls.get(), empty.get(), kwargs.get());
    py::Ref decimal_cls = py::getattr(decimal.get(), "Decimal");
    py::Ref num = py::call(decimal_cls.get(), numerator.get());
    py::Ref den = py::call(decimal_cls.get(), scale.get());
    py::Ref divide = py::getattr(context.get(), "divide");
    return py::call(divide.get(), num.get(), den.get());
}

}  // namespace strategy
