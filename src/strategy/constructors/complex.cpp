// complex_numbers(): complex values whose parts are floats of one width,
// optionally with a bounded magnitude.
#include <cmath>
#include <string>

#include "floats/floats.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/checks.hpp"

namespace strategy {
namespace {

// ---------------------------------------------------------------------------
// Arguments

// A magnitude bound: a non-negative real number, as a double.
double magnitude_bound(PyObject* value, const char* name) {
    double x = coerce_float_bound(value, name);
    if (!(x >= 0.0)) raise_invalid_argument(std::string(name) + "=" + py::repr(value) + " must be non-negative");
    return x;
}

std::string float_text(double x) { return py::repr(py::from_double(x).get()); }
std::string bound_text(double x) { return std::isinf(x) ? "None" : float_text(x); }

PyObject* complex_numbers_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{
            "complex_numbers",
            {"min_magnitude", "max_magnitude", "allow_nan", "allow_infinity", "width"}, 0, 0};
        auto a = sig.parse<5>(args, nargs, kwnames);
        auto given = [&](int i) { return a[i] && a[i] != Py_None; };
        std::optional<bool> allow_nan, allow_infinity;
        if (given(2)) allow_nan = py::arg_bool(a[2], "allow_nan");
        if (given(3)) allow_infinity = py::arg_bool(a[3], "allow_infinity");
        kinds::ComplexNumbers node;
        if (a[4]) node.width = py::arg_u32(a[4], "width");
        if (given(0)) node.min_magnitude = magnitude_bound(a[0], "min_magnitude");
        if (given(1)) node.max_magnitude = magnitude_bound(a[1], "max_magnitude");
        if (std::isinf(node.min_magnitude)) {
            raise_invalid_argument("min_magnitude=" + py::repr(a[0]) + " must be finite");
        }
        if (node.min_magnitude > node.max_magnitude) {
            raise_invalid_argument("min_magnitude=" + py::repr(a[0]) + " cannot be greater than max_magnitude=" +
                                   py::repr(a[1]));
        }
        if (node.width != 32 && node.width != 64 && node.width != 128) {
            raise_invalid_argument("width=" + std::to_string(node.width) + " must be 32, 64 or 128");
        }
        const bool bounded_max = std::isfinite(node.max_magnitude);
        const bool bounded = bounded_max || node.min_magnitude > 0.0;
        if (allow_infinity.value_or(false) && bounded_max) {
            raise_invalid_argument("Cannot have allow_infinity=True with max_magnitude=" +
                                   float_text(node.max_magnitude));
        }
        if (allow_nan.value_or(false) && bounded) {
            // A complex number with a NaN part has no magnitude to bound.
            raise_invalid_argument("Cannot have allow_nan=True with min_magnitude=" +
                                   float_text(node.min_magnitude) +
                                   " and max_magnitude=" + bound_text(node.max_magnitude));
        }
        node.allow_nan = allow_nan.value_or(!bounded);
        node.allow_infinity = allow_infinity.value_or(!bounded_max);
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

// ---------------------------------------------------------------------------
// Draw

// The float width of one part.
uint32_t part_width(const kinds::ComplexNumbers& n) { return n.width == 32 ? 16 : n.width == 64 ? 32 : 64; }

double next_down(double x) { return -floats::next_up(-x); }
// The least value of the width at or above x, and the greatest at or below.
double ceil_to_width(uint32_t width, double x) { return floats::next_up_width(width, next_down(x)); }
double floor_to_width(uint32_t width, double x) { return -ceil_to_width(width, -x); }

// One part in [lo, hi], drawn as a float of the part width would be.
double draw_part(const kinds::ComplexNumbers& n, PyObject* record, double lo, double hi) {
    kinds::Floats f;
    f.min_value = lo;
    f.max_value = hi;
    f.width = part_width(n);
    f.allow_nan = n.allow_nan;
    f.allow_infinity = n.allow_infinity;
    f.smallest_nonzero_magnitude = 5e-324;
    py::Ref v = draw_node(StrategyNode(std::move(f)), record);
    double x = PyFloat_AsDouble(v.get());
    if (x == -1.0 && PyErr_Occurred()) throw py::Err{};
    return x;
}

// sqrt(m^2 - a^2) for 0 <= a <= m, without overflow.
double leg(double m, double a) {
    if (m == 0.0) return 0.0;
    double r = a / m;
    return m * std::sqrt((1.0 - r) * (1.0 + r));
}

// The imaginary part of a value whose real part is re, so that the
// magnitude lies within the node's bounds; StopTest (invalid) when the part
// width has no such value.
double bounded_imaginary(const kinds::ComplexNumbers& n, PyObject* record, double re) {
    const uint32_t w = part_width(n);
    const double lo_mag = n.min_magnitude, hi_mag = n.max_magnitude;
    const double a = std::fabs(re);
    if (std::isinf(a)) return draw_part(n, record, -HUGE_VAL, HUGE_VAL);
    double hi = std::isinf(hi_mag) ? HUGE_VAL : floor_to_width(w, leg(hi_mag, a));
    double lo = a < lo_mag ? ceil_to_width(w, leg(lo_mag, a)) : 0.0;
    if (lo > hi) mark_invalid(record);
    double im;
    if (lo == 0.0) {
        im = draw_part(n, record, -hi, hi);
    } else {
        bool negative = draw_fair_boolean(record);
        im = draw_part(n, record, lo, hi);
        if (negative) im = -im;
    }
    // The legs are rounded; step the part by one unit of its width while
    // the magnitude is a hair outside the bounds.
    for (int step = 0; step < 8; ++step) {
        double mag = std::hypot(re, im);
        if (mag > hi_mag && im != 0.0) {
            im = im > 0 ? floor_to_width(w, next_down(im)) : ceil_to_width(w, floats::next_up(im));
        } else if (mag < lo_mag) {
            im = im >= 0 ? floats::next_up_width(w, im) : -floats::next_up_width(w, -im);
        } else {
            return im;
        }
    }
    double mag = std::hypot(re, im);
    if (mag > hi_mag || mag < lo_mag) mark_invalid(record);
    return im;
}

}  // namespace

py::Ref draw_complex_numbers(const kinds::ComplexNumbers& n, PyObject* record) {
    double re, im;
    if (n.min_magnitude == 0.0 && std::isinf(n.max_magnitude)) {
        re = draw_part(n, record, -HUGE_VAL, HUGE_VAL);
        im = draw_part(n, record, -HUGE_VAL, HUGE_VAL);
    } else {
        double hi = std::isinf(n.max_magnitude) ? HUGE_VAL : floor_to_width(part_width(n), n.max_magnitude);
        re = draw_part(n, record, -hi, hi);
        im = bounded_imaginary(n, record, re);
    }
    return py::check(PyComplex_FromDoubles(re, im));
}

namespace defs {
PyMethodDef complex_numbers = {
    "complex_numbers", QF_FASTCALL(complex_numbers_fn), METH_FASTCALL | METH_KEYWORDS,
    "complex_numbers(*, min_magnitude=None, max_magnitude=None, allow_nan=None, allow_infinity=None, "
    "width=128)\n--\n\n"
    "Complex numbers whose parts are floats of width // 2 bits, with the magnitude within the "
    "given bounds."};
}  // namespace defs

}  // namespace strategy
