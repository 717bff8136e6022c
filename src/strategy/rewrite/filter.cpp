// Filter rewriting: the entry point and the numeric and date kinds.
#include "strategy/rewrite/filter.hpp"

#include <cfloat>
#include <cmath>

namespace strategy {
namespace filtering {

py::Ref ask_upstream(const char* module, const char* function, PyObject* arg) {
    py::Ref fn = py::optional_attr(module, function);
    py::Ref r = py::Ref::steal(fn ? PyObject_CallFunctionObjArgs(fn.get(), arg, nullptr) : nullptr);
    if (!r) py::drop_exception();
    return r;
}

std::optional<Bounds> predicate_bounds(const char* function, PyObject* condition) {
    py::Ref answer = ask_upstream("quorvantis.internal.filtering", function, condition);
    if (!answer) return std::nullopt;
    Bounds b;
    b.constraints = py::getattr(answer.get(), "constraints");
    if (!PyDict_Check(b.constraints.get())) py::raise_cannot_convert(b.constraints.get(), "PyDict");
    b.predicate = py::getattr(answer.get(), "predicate");
    return b;
}

py::Ref nothing() { return SearchStrategy::wrap(kinds::Nothing{}); }

namespace {

// The answer when the new strategy is `base` narrowed by the remaining
// predicate of the upstream bounds.
py::Ref with_predicate(py::Ref base, PyObject* predicate) {
    if (predicate == Py_None) return base;
    return plain_filter(base.get(), predicate);
}

bool is_attr(PyObject* condition, PyObject* module, const char* name) {
    py::Ref f = py::getattr(module, name);
    return f.get() == condition;
}

// A float under `key` of the constraints, or `fallback` when absent.
double constraint_float(PyObject* constraints, const char* key, double fallback) {
    PyObject* v = py::dict_get(constraints, key);
    if (!v) return fallback;
    double x = PyFloat_AsDouble(v);
    if (x == -1.0 && PyErr_Occurred()) throw py::Err{};
    return x;
}

}  // namespace

py::Ref rewrite_integers(PyObject* self, const kinds::Integers& n, PyObject* condition) {
    py::Ref math = py::import("math");
    if (is_attr(condition, math.get(), "isfinite")) return py::Ref::borrow(self);
    if (is_attr(condition, math.get(), "isinf") || is_attr(condition, math.get(), "isnan")) return nothing();
    auto bounds = predicate_bounds("get_integer_predicate_bounds", condition);
    if (!bounds) return py::Ref();
    OptInt lo = n.min_value, hi = n.max_value;
    if (PyObject* v = py::dict_get(bounds->constraints.get(), "min_value")) {
        mpz_class x = py::to_mpz(v);
        if (!lo || x > *lo) lo = x;
    }
    if (PyObject* v = py::dict_get(bounds->constraints.get(), "max_value")) {
        mpz_class x = py::to_mpz(v);
        if (!hi || x < *hi) hi = x;
    }
    py::Ref base;
    if (lo == n.min_value && hi == n.max_value) {
        base = py::Ref::borrow(self);
    } else if (lo && hi && *lo > *hi) {
        return nothing();
    } else {
        base = SearchStrategy::wrap(make_integers(std::move(lo), std::move(hi)));
    }
    return with_predicate(std::move(base), bounds->predicate.get());
}

py::Ref rewrite_floats(PyObject* self, const kinds::Floats& n, PyObject* condition) {
    py::Ref math = py::import("math");
    if (is_attr(condition, math.get(), "isfinite")) {
        kinds::Floats f = n;
        f.min_value = std::max(n.min_value, -DBL_MAX);
        f.max_value = std::min(n.max_value, DBL_MAX);
        f.allow_nan = f.allow_infinity = false;
        // floats(min_value=inf) and the like hold no finite value at all.
        if (f.min_value > f.max_value) return nothing();
        return SearchStrategy::wrap(std::move(f));
    }
    if (is_attr(condition, math.get(), "isinf")) {
        kinds::SampledFrom infinities;
        if (n.allow_infinity) {
            if (n.min_value == -HUGE_VAL) infinities.values.push_back(py::from_double(-HUGE_VAL));
            if (n.max_value == HUGE_VAL) infinities.values.push_back(py::from_double(HUGE_VAL));
        }
        if (infinities.values.empty()) return nothing();
        return SearchStrategy::wrap(std::move(infinities));
    }
    if (is_attr(condition, math.get(), "isnan")) {
        if (!n.allow_nan) return nothing();
        return SearchStrategy::wrap(kinds::Just{py::from_double(std::nan(""))});
    }
    auto bounds = predicate_bounds("get_float_predicate_bounds", condition);
    if (!bounds || PyDict_Size(bounds->constraints.get()) == 0) return py::Ref();
    PyObject* c = bounds->constraints.get();
    double lo = std::fmax(constraint_float(c, "min_value", -HUGE_VAL), n.min_value);
    double hi = std::fmin(constraint_float(c, "max_value", HUGE_VAL), n.max_value);
    const double m = n.smallest_nonzero_magnitude;
    if (lo > 0 && lo < m) lo = m;
    else if (lo < 0 && lo > -m) lo = -0.0;
    if (hi > 0 && hi < m) hi = 0.0;
    else if (hi < 0 && hi > -m) hi = -m;
    if (hi < lo) return nothing();
    py::Ref base;
    // Bounds from a comparison never admit NaN, so a node that allows NaN
    // is rebuilt even when the bounds themselves do not narrow it.
    if (lo > n.min_value || hi < n.max_value || n.allow_nan) {
        kinds::Floats f = n;
        f.min_value = lo;
        f.max_value = hi;
        f.allow_nan = false;
        // Infinities stay out when the original strategy left them out.
        f.allow_infinity = n.allow_infinity && (lo == -HUGE_VAL || hi == HUGE_VAL);
        if (!f.allow_infinity && (lo == HUGE_VAL || hi == -HUGE_VAL)) return nothing();
        base = SearchStrategy::wrap(std::move(f));
    } else {
        base = py::Ref::borrow(self);
    }
    return with_predicate(std::move(base), bounds->predicate.get());
}

py::Ref rewrite_dates(PyObject* self, const kinds::Dates& n, PyObject* condition) {
    py::Ref partial = py::import_attr("functools", "partial");
    int is_partial = PyObject_IsInstance(condition, partial.get());
    py::check_rc(is_partial);
    if (!is_partial) return py::Ref();
    py::Ref args = py::getattr(condition, "args");
    Py_ssize_t nargs = PyObject_Length(args.get());
    if (nargs < 0) throw py::Err{};
    if (nargs != 1) return py::Ref();
    py::Ref keywords = py::getattr(condition, "keywords");
    if (py::truthy(keywords.get())) return py::Ref();
    py::Ref d = py::check(PySequence_GetItem(args.get(), 0));
    py::Ref datetime = py::import("datetime");
    py::Ref date_cls = py::getattr(datetime.get(), "date");
    py::Ref datetime_cls = py::getattr(datetime.get(), "datetime");
    int is_date = PyObject_IsInstance(d.get(), date_cls.get());
    py::check_rc(is_date);
    // A datetime never compares equal to a date (and refuses to be ordered
    // against one), so its day is no bound on the dates the filter keeps.
    int is_datetime = PyObject_IsInstance(d.get(), datetime_cls.get());
    py::check_rc(is_datetime);
    if (!is_date || is_datetime) return py::Ref();
    py::Ref func = py::getattr(condition, "func");
    py::Ref op = py::import("operator");
    enum { LT, LE, EQ, GE, GT, NONE } which = NONE;
    const char* const names[] = {"lt", "le", "eq", "ge", "gt"};
    for (int i = 0; i < 5 && which == NONE; ++i) {
        if (is_attr(func.get(), op.get(), names[i])) which = static_cast<decltype(which)>(i);
    }
    if (which == NONE) return py::Ref();
    py::Ref ordinal = py::call_method(d.get(), "toordinal");
    int64_t o = 0;
    if (!py::as_i64(ordinal.get(), o)) py::raise_cannot_convert(ordinal.get(), "i64");
    constexpr int64_t LAST_ORDINAL = 3652059;  // 9999-12-31
    int64_t lo = n.min_ordinal, hi = n.max_ordinal;
    switch (which) {
    case LT:
        if (o >= LAST_ORDINAL) return nothing();
        lo = o + 1;
        break;
    case LE: lo = o; break;
    case EQ:
        lo = o;
        hi = std::min(o, n.max_ordinal);
        break;
    case GE: hi = std::min(o, n.max_ordinal); break;
    case GT:
        if (o < 2) return nothing();  // o - 1 < 1, without overflow
        hi = std::min(o - 1, n.max_ordinal);
        break;
    case NONE: break;
    }
    lo = std::max(lo, n.min_ordinal);
    if (hi < lo) return nothing();
    if (lo == n.min_ordinal && hi == n.max_ordinal) return py::Ref::borrow(self);
    if (lo == hi) {
        py::Ref day = py::call_method(date_cls.get(), "fromordinal", py::from_i64(lo).get());
        return SearchStrategy::wrap(kinds::Just{std::move(day)});
    }
    return SearchStrategy::wrap(kinds::Dates{lo, hi});
}

}  // namespace filtering

py::Ref filter_strategy(PyObject* self, PyObject* condition) {
    py::RecursionGuard guard(" while rewriting a filter");
    check_not_data(self, "filter");
    // A condition that cannot be called is no predicate anyone can read; it
    // stays a filter and fails when it is first used, as it should.
    if (!PyCallable_Check(condition)) return plain_filter(self, condition);
    const StrategyNode& node = node_of(self);
    py::Ref r;
    switch (node.kind()) {
    case Kind::Integers: r = filtering::rewrite_integers(self, *node.get<kinds::Integers>(), condition); break;
    case Kind::Floats: r = filtering::rewrite_floats(self, *node.get<kinds::Floats>(), condition); break;
    case Kind::Dates: r = filtering::rewrite_dates(self, *node.get<kinds::Dates>(), condition); break;
    case Kind::Lists:
    case Kind::Sets:
    case Kind::Dictionaries:
    case Kind::Text:
    case Kind::Binary: r = filtering::rewrite_collection(self, condition); break;
    case Kind::Map: r = filtering::rewrite_mapped_list(*node.get<kinds::Map>(), condition); break;
    default: break;
    }
    return r ? r : plain_filter(self, condition);
}

}  // namespace strategy
