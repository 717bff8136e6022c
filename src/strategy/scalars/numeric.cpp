// integers, floats, fractions, decimals and slices.
#include <cmath>
#include <tuple>

#include "floats/floats.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/scalars.hpp"

namespace strategy {

namespace {

// The smallest positive normal of each float width.
double smallest_normal(uint32_t width) {
    return width == 16 ? 6.103515625e-05 : width == 32 ? 1.1754943508222875e-38 : 2.2250738585072014e-308;
}

constexpr double SMALLEST_SUBNORMAL = 5e-324;

std::string fmt(double v) { return fmt_float_opt(true, v); }

// ", exclude_min=True and exclude_max=False" when either is set.
std::string exclusion_suffix(const FloatArgs& a) {
    if (!a.exclude_min && !a.exclude_max) return std::string();
    return std::string(", exclude_min=") + (a.exclude_min ? "True" : "False") +
           " and exclude_max=" + (a.exclude_max ? "True" : "False");
}

std::string bounds_text(const FloatArgs& a) {
    return "min_value=" + fmt_float_opt(a.min_value.has_value(), a.min_value.value_or(0.0)) +
           " and max_value=" + fmt_float_opt(a.max_value.has_value(), a.max_value.value_or(0.0));
}

}  // namespace

OrMessage<kinds::Floats> resolve_floats(const FloatArgs& a) {
    const uint32_t width = a.width;
    if (width != 16 && width != 32 && width != 64) {
        return "Got width=" + std::to_string(width) +
               ", but the only valid values are the integers 16, 32, and 64.";
    }
    if (a.min_value && std::isnan(*a.min_value)) {
        return std::string("min_value=nan is not a valid float bound (cannot be NaN)");
    }
    if (a.max_value && std::isnan(*a.max_value)) {
        return std::string("max_value=nan is not a valid float bound (cannot be NaN)");
    }
    if (width != 64) {
        const std::pair<const char*, const std::optional<double>*> bounds[] = {
            {"min_value", &a.min_value}, {"max_value", &a.max_value}};
        for (const auto& [name, bound] : bounds) {
            if (!*bound || !std::isfinite(**bound)) continue;
            const double rounded = floats::round_to_width(width, **bound);
            if (rounded != **bound) {
                return std::string(name) + "=" + fmt(**bound) + " cannot be exactly represented as a float of width " +
                       std::to_string(width) + " - use " + name + "=" + fmt(rounded) + " instead.";
            }
        }
    }
    const bool any_bound = a.min_value || a.max_value;
    bool allow_nan;
    if (!a.allow_nan) {
        allow_nan = !any_bound;
    } else {
        if (*a.allow_nan && any_bound) return std::string("Cannot have allow_nan=True, with min_value or max_value");
        allow_nan = *a.allow_nan;
    }
    if (a.exclude_min && (!a.min_value || *a.min_value == HUGE_VAL)) {
        return "Cannot exclude min_value=" + fmt_float_opt(a.min_value.has_value(), a.min_value.value_or(0.0));
    }
    if (a.exclude_max && (!a.max_value || *a.max_value == -HUGE_VAL)) {
        return "Cannot exclude max_value=" + fmt_float_opt(a.max_value.has_value(), a.max_value.value_or(0.0));
    }

    // Effective bounds; an infinite one on the open side counts as absent.
    std::optional<double> lo, hi;
    if (a.min_value) {
        double v = a.exclude_min ? floats::next_up_width(width, *a.min_value) : *a.min_value;
        if (v != -HUGE_VAL) lo = v;
    }
    if (a.max_value) {
        double v = a.exclude_max ? -floats::next_up_width(width, -*a.max_value) : *a.max_value;
        if (v != HUGE_VAL) hi = v;
    }
    if (lo && hi && (*lo > *hi || (*lo == 0.0 && *hi == 0.0 && !std::signbit(*lo) && std::signbit(*hi)))) {
        return "There are no " + std::to_string(width) + "-bit floating-point values between " + bounds_text(a) +
               exclusion_suffix(a);
    }

    bool allow_infinity;
    if (a.allow_infinity && !*a.allow_infinity) {
        if (lo && *lo == HUGE_VAL) {
            if (*a.min_value == HUGE_VAL) return std::string("allow_infinity=False excludes min_value=inf");
            return "exclude_min=True turns min_value=" + fmt(*a.min_value) + " into inf, but allow_infinity=False";
        }
        if (hi && *hi == -HUGE_VAL) {
            if (*a.max_value == -HUGE_VAL) return std::string("allow_infinity=False excludes max_value=-inf");
            return "exclude_max=True turns max_value=" + fmt(*a.max_value) + " into -inf, but allow_infinity=False";
        }
        allow_infinity = false;
    } else if (a.allow_infinity) {
        if (lo && hi) return std::string("Cannot have allow_infinity=True, with both min_value and max_value");
        allow_infinity = true;
    } else {
        allow_infinity = !(lo && hi);
    }

    const double sn = smallest_normal(width);
    bool allow_subnormal;
    if (a.allow_subnormal && *a.allow_subnormal) {
        if (lo && *lo >= sn) {
            return "allow_subnormal=True, but minimum value " + fmt(*lo) + " excludes values below float" +
                   std::to_string(width) + "'s smallest positive normal " + fmt(sn);
        }
        if (hi && *hi <= -sn) {
            return "allow_subnormal=True, but maximum value " + fmt(*hi) + " excludes values above float" +
                   std::to_string(width) + "'s smallest negative normal " + fmt(-sn);
        }
        allow_subnormal = true;
    } else if (a.allow_subnormal) {
        // Without subnormals only zero and the normals remain; a range
        // holding neither could only ever produce values it forbids.
        const double l = lo.value_or(-HUGE_VAL), h = hi.value_or(HUGE_VAL);
        if (!((l <= 0.0 && h >= 0.0) || h >= sn || l <= -sn)) {
            return "allow_subnormal=False, but every value between " + bounds_text(a) + exclusion_suffix(a) +
                   " is subnormal for float" + std::to_string(width) + " (its smallest positive normal is " +
                   fmt(sn) + ")";
        }
        allow_subnormal = false;
    } else {
        allow_subnormal = (!lo || *lo < sn) && (!hi || *hi > -sn);
    }

    kinds::Floats node;
    node.min_value = lo.value_or(-HUGE_VAL);
    node.max_value = hi.value_or(HUGE_VAL);
    node.smallest_nonzero_magnitude = allow_subnormal ? SMALLEST_SUBNORMAL : sn;
    node.width = width;
    node.allow_nan = allow_nan;
    node.allow_infinity = allow_infinity;
    return node;
}

py::Ref fraction_of_ints(PyObject* fraction, PyObject* f) {
    static py::Name k_numerator{"numerator"}, k_denominator{"denominator"};
    py::Ref n = py::check(PyObject_GetAttr(f, k_numerator.get()));
    py::Ref d = py::check(PyObject_GetAttr(f, k_denominator.get()));
    if (PyLong_CheckExact(n.get()) && PyLong_CheckExact(d.get())) return py::Ref::borrow(f);
    py::Ref n_int = py::check(PyNumber_Index(n.get()));
    py::Ref d_int = py::check(PyNumber_Index(d.get()));
    return py::call(fraction, n_int.get(), d_int.get());
}

namespace {

PyObject* integers_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"integers", {"min_value", "max_value"}, 0};
        auto a = sig.parse<2>(args, nargs, kwnames);
        OptInt lo, hi;
        if (given(a[0])) lo = coerce_integer_bound(a[0], "min_value");
        if (given(a[1])) hi = coerce_integer_bound(a[1], "max_value");
        if (lo && hi && *lo > *hi) {
            return stored_error("min_value=" + lo->get_str() + " cannot be greater than max_value=" + hi->get_str())
                .release();
        }
        return SearchStrategy::wrap(make_integers(std::move(lo), std::move(hi))).release();
    });
}

PyObject* floats_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"floats",
                                 {"min_value", "max_value", "allow_nan", "allow_infinity", "allow_subnormal",
                                  "width", "exclude_min", "exclude_max"},
                                 0, 2};
        auto a = sig.parse<8>(args, nargs, kwnames);
        FloatArgs f;
        if (a[5]) f.width = py::arg_u32(a[5], "width");
        if (given(a[0])) f.min_value = coerce_float_bound(a[0], "min_value");
        if (given(a[1])) f.max_value = coerce_float_bound(a[1], "max_value");
        if (given(a[6])) f.exclude_min = check_bool_flag(a[6], "exclude_min");
        if (given(a[7])) f.exclude_max = check_bool_flag(a[7], "exclude_max");
        if (given(a[2])) f.allow_nan = py::truthy(a[2]);
        if (given(a[3])) f.allow_infinity = py::truthy(a[3]);
        if (given(a[4])) f.allow_subnormal = py::truthy(a[4]);
        if (f.width == 16 || f.width == 32) {
            const std::tuple<const char*, const std::optional<double>*, PyObject*> bounds[] = {
                {"min_value", &f.min_value, a[0]}, {"max_value", &f.max_value, a[1]}};
            for (const auto& [name, bound, given_value] : bounds) {
                if (*bound && std::isfinite(**bound) && std::isinf(floats::round_to_width(f.width, **bound))) {
                    const bool above = **bound > 0;
                    const double limit = above ? floats::max_finite(f.width) : -floats::max_finite(f.width);
                    raise_invalid_argument(beyond_limit(name, py::repr(given_value), above, fmt(limit),
                                                        "float of width " + std::to_string(f.width)));
                }
            }
        }
        OrMessage<kinds::Floats> node = resolve_floats(f);
        if (auto* m = std::get_if<std::string>(&node)) return stored_error(std::move(*m)).release();
        return SearchStrategy::wrap(std::move(std::get<kinds::Floats>(node))).release();
    });
}

PyObject* fractions_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"fractions", {"min_value", "max_value", "max_denominator"}, 0, 2};
        auto a = sig.parse<3>(args, nargs, kwnames);
        py::Ref fraction = py::import_attr("fractions", "Fraction");
        kinds::Fractions node;
        node.max_denominator = 65536;
        PyObject* max_den = given(a[2]);
        if (max_den) {
            if (!PyLong_Check(max_den)) {
                raise_invalid_argument("max_denominator=" + py::repr(max_den) + " must be an integer.");
            }
            int overflow = 0;
            const long long d = PyLong_AsLongLongAndOverflow(max_den, &overflow);
            if (d == -1 && PyErr_Occurred()) throw py::Err{};
            if (overflow > 0) raise_invalid_argument(above_i64("max_denominator", max_den, "denominator"));
            if (overflow < 0 || d < 1) {
                raise_invalid_argument("max_denominator=" + (overflow ? py::repr(max_den) : std::to_string(d)) +
                                       " must be >= 1, but the smallest valid denominator is 1.");
            }
            node.max_denominator = d;
        }
        const char* names[2] = {"min_value", "max_value"};
        py::Ref* bounds[2] = {&node.min_value, &node.max_value};
        for (int i = 0; i < 2; ++i) {
            PyObject* v = given(a[i]);
            if (!v) continue;
            // A bound whose Fraction has no integer numerator and denominator
            // cannot be converted either.
            py::Ref converted;
            try {
                py::Ref raw = py::call(fraction.get(), v);
                converted = fraction_of_ints(fraction.get(), raw.get());
            } catch (const py::Err&) {
                py::drop_exception();
            }
            if (!converted) {
                raise_invalid_argument("Cannot convert " + std::string(names[i]) + "=" + py::repr(v) +
                                       " to a Fraction.");
            }
            PyObject* f = converted.get();
            *bounds[i] = std::move(converted);
            if (max_den) {
                py::Ref den = py::getattr(f, "denominator");
                py::Ref limit = py::from_i64(node.max_denominator);
                int over = PyObject_RichCompareBool(den.get(), limit.get(), Py_GT);
                if (over < 0) throw py::Err{};
                if (over) {
                    raise_invalid_argument("The " + std::string(names[i]) + "=" + py::repr(f) +
                                           " has a denominator greater than the max_denominator=" +
                                           std::to_string(node.max_denominator));
                }
            }
        }
        if (node.min_value && node.max_value) {
            int gt = PyObject_RichCompareBool(node.min_value.get(), node.max_value.get(), Py_GT);
            if (gt < 0) throw py::Err{};
            if (gt) {
                raise_invalid_argument("min_value=" + py::repr(node.min_value.get()) +
                                       " cannot be greater than max_value=" + py::repr(node.max_value.get()));
            }
        }
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

PyObject* decimals_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"decimals", {"min_value", "max_value", "allow_nan", "allow_infinity", "places"},
                                 0, 2};
        auto a = sig.parse<5>(args, nargs, kwnames);
        // The flags are checked but have no effect: every drawn decimal is finite.
        if (given(a[2])) py::arg_bool(a[2], "allow_nan");
        if (given(a[3])) py::arg_bool(a[3], "allow_infinity");
        kinds::Decimals node;
        if (given(a[4])) {
            int64_t p = py::arg_i64(a[4], "places");
            if (p < INT32_MIN || p > INT32_MAX) {
                py::raise_overflow_error("out of range integral type conversion attempted");
            }
            node.places = static_cast<int32_t>(p);
        }
        if (given(a[0])) node.min_value = py::Ref::borrow(a[0]);
        if (given(a[1])) node.max_value = py::Ref::borrow(a[1]);
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

PyObject* slices_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"slices", {"size"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        long long n = -1;
        if (PyLong_Check(a[0])) {
            int overflow = 0;
            n = PyLong_AsLongLongAndOverflow(a[0], &overflow);
            if (n == -1 && PyErr_Occurred()) throw py::Err{};
            if (overflow > 0) raise_invalid_argument(above_i64("size", a[0], "size"));
        }
        if (n < 0) raise_invalid_argument("Expected size to be a non-negative integer, but got " + py::repr(a[0]));
        return SearchStrategy::wrap(kinds::Slices{n}).release();
    });
}

}  // namespace

// Registered by the module's table of strategy functions.
namespace defs {
PyMethodDef integers{"integers", QF_FASTCALL(integers_fn), METH_FASTCALL | METH_KEYWORDS,
    "integers(min_value=None, max_value=None)\n--\n\nIntegers between the bounds."};
PyMethodDef floats{"floats", QF_FASTCALL(floats_fn), METH_FASTCALL | METH_KEYWORDS,
    "floats(min_value=None, max_value=None, *, allow_nan=None, allow_infinity=None, "
    "allow_subnormal=None, width=64, exclude_min=None, exclude_max=None)\n--\n\n"
    "Floats of the given width between the bounds."};
PyMethodDef fractions{"fractions", QF_FASTCALL(fractions_fn), METH_FASTCALL | METH_KEYWORDS,
    "fractions(min_value=None, max_value=None, *, max_denominator=None)\n--\n\nFractions between the bounds."};
PyMethodDef decimals{"decimals", QF_FASTCALL(decimals_fn), METH_FASTCALL | METH_KEYWORDS,
    "decimals(min_value=None, max_value=None, *, allow_nan=None, allow_infinity=None, places=None)\n--\n\n"
    "Decimals between the bounds, with the given number of places."};
PyMethodDef slices{"slices", QF_FASTCALL(slices_fn), METH_FASTCALL | METH_KEYWORDS,
    "slices(size)\n--\n\nSlices for a collection of the given size."};
}  // namespace defs

}  // namespace strategy
