// The draw interpreter over a native record.
#include "strategy/interpreter.hpp"

#include <cmath>

#include "data/record.hpp"
#include "floats/floats.hpp"
#include "strategy/draw_collections.hpp"
#include "strategy/errors.hpp"
#include "strategy/guards.hpp"
#include "strategy/object.hpp"

namespace strategy {

// ---------------------------------------------------------------------------
// Calls into the record, each under the record's exclusive borrow.

namespace {

// Small ints are cached by the interpreter, so the index bounds of a draw
// over fewer than 257 values allocate nothing.
py::Ref draw_int_obj(PyObject* record, PyObject* lo, PyObject* hi, PyObject* weights,
                     const data::IntegerSampler* sampler = nullptr) {
    data::RecordMut r(record);
    return r->draw_integer_obj(lo, hi, weights, 0, sampler);
}

// An index in [0, n), n >= 1.
Py_ssize_t draw_index(PyObject* record, Py_ssize_t n) {
    py::Ref hi = py::check(PyLong_FromSsize_t(n - 1));
    py::Ref zero = py::check(PyLong_FromLong(0));
    py::Ref v = draw_int_obj(record, zero.get(), hi.get(), nullptr);
    Py_ssize_t i = PyLong_AsSsize_t(v.get());
    if (i == -1 && PyErr_Occurred()) throw py::Err{};
    if (i < 0 || i >= n) py::throw_fault("record returned an index outside its bounds");
    return i;
}

}  // namespace

[[noreturn]] void mark_invalid(PyObject* record) {
    data::RecordMut r(record);
    r->mark(data::Status::Invalid, py::Ref());
}

void set_has_discards(PyObject* record) {
    data::RecordMut r(record);
    r->has_discards = true;
}

int64_t idraw(PyObject* record, int64_t lo, int64_t hi) {
    py::Ref l = py::from_i64(lo), h = py::from_i64(hi);
    py::Ref v = draw_int_obj(record, l.get(), h.get(), nullptr);
    int64_t out = 0;
    if (!py::as_i64(v.get(), out)) py::raise_overflow_error("drawn integer does not fit in 64 bits");
    return out;
}

uint64_t draw_index_rs(PyObject* record, uint64_t n) {
    py::Ref hi = py::from_u64(n - 1);
    py::Ref zero = py::from_i64(0);
    py::Ref v = draw_int_obj(record, zero.get(), hi.get(), nullptr);
    unsigned long long i = PyLong_AsUnsignedLongLong(v.get());
    if (i == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::Err{};
    return i;
}

mpz_class range_length(PyObject* range) {
    const Py_ssize_t len = PyObject_Length(range);
    if (len >= 0) return mpz_class(static_cast<long>(len));
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::Err{};
    py::drop_exception();
    py::Ref start = py::getattr(range, "start"), stop = py::getattr(range, "stop"),
            step = py::getattr(range, "step");
    const mpz_class a = py::to_mpz(start.get()), b = py::to_mpz(stop.get()), s = py::to_mpz(step.get());
    if (s == 0) py::raise_value_error("range() arg 3 must not be zero");
    // ceil((stop - start) / step), and nothing when that is not positive.
    const mpz_class span = s > 0 ? mpz_class(b - a) : mpz_class(a - b);
    if (span <= 0) return 0;
    const mpz_class width = abs(s);
    mpz_class count;
    mpz_cdiv_q(count.get_mpz_t(), span.get_mpz_t(), width.get_mpz_t());
    return count;
}

bool draw_fair_boolean(PyObject* record) {
    data::RecordMut r(record);
    return r->draw_boolean_rs(0.5, std::nullopt);
}

py::Ref call_with_one(PyObject* f, PyObject* x) { return py::check(PyObject_CallFunctionObjArgs(f, x, nullptr)); }

void record_created_call(PyObject* result, PyObject* pack, PyObject* value) {
    // A build context exists only once the upstream control module has been
    // imported, so a module that is not loaded means there is none.
    static py::Name k_module{"quorvantis.control"};
    try {
        py::Ref mod = py::loaded_module(k_module.get());
        if (!mod) return;
        py::Ref var = py::getattr(mod.get(), "_current_build_context");
        py::Ref ctx = py::getattr(var.get(), "value");
        if (ctx.get() == Py_None) return;
        py::Ref is_final = py::getattr(ctx.get(), "is_final");
        if (!py::truthy(is_final.get())) return;
        py::Ref record_call = py::getattr(ctx.get(), "record_call");
        py::Ref args = py::tuple_of({result, pack});
        py::Ref kwargs = py::new_dict();
        py::Ref values = py::new_list(0);
        py::list_append(values.get(), value);
        py::dict_set(kwargs.get(), "args", values.get());
        py::Ref empty = py::new_dict();
        py::dict_set(kwargs.get(), "kwargs", empty.get());
        py::call_args(record_call.get(), args.get(), kwargs.get());
    } catch (...) {
        py::drop_exception();
    }
}

// ---------------------------------------------------------------------------
// Collection sizing

double many_p_continue(uint64_t min_size, uint64_t max_size) {
    const double m = static_cast<double>(min_size), M = static_cast<double>(max_size);
    if (M == m) return 0.0;
    const double avg = std::min(std::max(2 * m, m + 5), (m + M) / 2) - m;
    const double n = M - m;
    if (avg >= n) return 1.0;
    double p = 1 - 1 / (avg + 1);
    if (p == 0) return 0.0;
    auto expected = [n](double q) { return q >= 1 ? n : (1 - std::pow(q, n)) * (1 / (1 - q) - 1); };
    const double smallest_normal = 2.2250738585072014e-308;
    while (expected(p) > avg) {
        p -= 0.0001;
        if (p < smallest_normal) return smallest_normal;
    }
    double hi = 1.0;
    while (avg - expected(p) > 0.01) {
        double mid = (hi + p) / 2;
        if (expected(mid) <= avg) p = mid;
        else hi = mid;
    }
    return p;
}

Many::Many(uint64_t lo, uint64_t hi, double p) : min_size(lo), max_size(hi), p_continue(p) {}

bool Many::more(PyObject* record) {
    bool answer;
    if (min_size == max_size) {
        answer = count < min_size;
    } else {
        std::optional<bool> forced;
        if (force_stop) forced = false;
        else if (count < min_size) forced = true;
        else if (count >= max_size) forced = false;
        data::RecordMut r(record);
        answer = r->draw_boolean_rs(p_continue, forced);
    }
    if (answer) ++count;
    return answer;
}

void Many::reject(PyObject* record) {
    --count;
    ++rejections;
    if (rejections > std::max<uint64_t>(3, 2 * count)) {
        if (count < min_size) mark_invalid(record);
        force_stop = true;
    }
}

UniqueKeys::UniqueKeys(PyObject* unique_by) {
    if (PyCallable_Check(unique_by)) {
        fns_.push_back(py::Ref::borrow(unique_by));
    } else {
        py::Ref it = py::check(PyObject_GetIter(unique_by));
        while (PyObject* f = PyIter_Next(it.get())) fns_.push_back(py::Ref::steal(f));
        py::check_no_error();
    }
    seen_.resize(fns_.size());
    keys_.resize(fns_.size());
    for (py::Ref& s : seen_) s = py::check(PySet_New(nullptr));
}

bool seen_before(PyObject* set, PyObject* key) {
    int present = PySet_Contains(set, key);
    if (present < 0) throw py::Err{};
    if (!present) py::check_rc(PySet_Add(set, key));
    return present != 0;
}

bool UniqueKeys::admit(PyObject* value) {
    for (size_t i = 0; i < fns_.size(); ++i) {
        keys_[i] = call_with_one(fns_[i].get(), value);
        int present = PySet_Contains(seen_[i].get(), keys_[i].get());
        if (present < 0) throw py::Err{};
        if (present) return false;
    }
    for (size_t i = 0; i < fns_.size(); ++i) py::check_rc(PySet_Add(seen_[i].get(), keys_[i].get()));
    return true;
}

// ---------------------------------------------------------------------------
// Draw rules

namespace {

py::Ref draw_floats(const kinds::Floats& n, PyObject* record) {
    const double M = floats::max_finite(n.width);
    double lo = n.min_value == -HUGE_VAL ? (n.allow_infinity ? -HUGE_VAL : -M) : std::max(n.min_value, -M);
    double hi = n.max_value == HUGE_VAL ? (n.allow_infinity ? HUGE_VAL : M) : std::min(n.max_value, M);
    py::Ref v;
    {
        data::RecordMut r(record);
        v = r->draw_float_rs(n.allow_nan, lo, hi, n.smallest_nonzero_magnitude);
    }
    if (n.width == 64) return v;
    double x = PyFloat_AsDouble(v.get());
    if (x == -1.0 && PyErr_Occurred()) throw py::Err{};
    if (!std::isfinite(x)) return v;
    x = floats::round_to_width(n.width, x);
    x = std::min(std::max(x, lo), hi);
    return py::from_double(x);
}

py::Ref draw_sampled_from(const kinds::SampledFrom& n, PyObject* record) {
    if (n.values.empty()) mark_invalid(record);
    bool all_strategies = true;
    for (const py::Ref& v : n.values) {
        if (!is_search_strategy(v.get())) {
            all_strategies = false;
            break;
        }
    }
    if (all_strategies) {
        // Tell the package's Python side; its answer does not matter.
        py::Ref mod = py::Ref::steal(PyImport_ImportModule("quorvantis_fast.control"));
        py::Ref hook = py::Ref::steal(mod ? PyObject_GetAttrString(mod.get(), "_record_native_3819") : nullptr);
        if (hook) {
            if (py::Ref t = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(n.values.size())))) {
                for (size_t i = 0; i < n.values.size(); ++i)
                    PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), n.values[i].newref());
                py::Ref::steal(PyObject_CallFunctionObjArgs(hook.get(), t.get(), nullptr));
            }
        }
        py::drop_exception();
    }
    Py_ssize_t i = draw_index(record, static_cast<Py_ssize_t>(n.values.size()));
    return n.values[static_cast<size_t>(i)];
}

py::Ref draw_sampled_from_range(const kinds::SampledFromRange& n, PyObject* record) {
    PyObject* range = n.range.get();
    Py_ssize_t len = PyObject_Length(range);
    if (len < 0) {
        // Longer than len() can count: draw the index among big integers.
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::Err{};
        py::drop_exception();
        const mpz_class count = range_length(range);
        if (count <= 0) mark_invalid(record);
        py::Ref zero = py::from_i64(0), last = py::from_mpz(count - 1);
        py::Ref i = draw_int_obj(record, zero.get(), last.get(), nullptr);
        py::Ref start = py::getattr(range, "start"), step = py::getattr(range, "step");
        return py::from_mpz(py::to_mpz(start.get()) + py::to_mpz(i.get()) * py::to_mpz(step.get()));
    }
    if (len == 0) mark_invalid(record);
    const int64_t i = draw_index(record, len);
    py::Ref start = py::getattr(range, "start"), step = py::getattr(range, "step");
    int64_t s = 0, st = 0;
    if (py::as_i64(start.get(), s) && py::as_i64(step.get(), st)) {
        __int128 v = static_cast<__int128>(s) + static_cast<__int128>(i) * st;
        if (v >= INT64_MIN && v <= INT64_MAX) return py::from_i64(static_cast<int64_t>(v));
    }
    mpz_class v = py::to_mpz(start.get()) + mpz_class(static_cast<long>(i)) * py::to_mpz(step.get());
    return py::from_mpz(v);
}

py::Ref draw_one_of(const kinds::OneOf& n, PyObject* record) {
    if (n.branches.empty()) mark_invalid(record);
    Py_ssize_t i = draw_index(record, static_cast<Py_ssize_t>(n.branches.size()));
    return draw_child(n.branches[static_cast<size_t>(i)].get(), record);
}

py::Ref draw_tuples(const kinds::Tuples& n, PyObject* record) {
    py::Ref t = py::check(PyTuple_New(static_cast<Py_ssize_t>(n.elements.size())));
    for (size_t i = 0; i < n.elements.size(); ++i) {
        py::Ref v = draw_child(n.elements[i].get(), record);
        PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), v.release());
    }
    return t;
}

// A unique list over a finite domain: each element is an index into what
// is left of the domain.
py::Ref draw_unique_domain(const kinds::Lists& n, PyObject* record) {
    const Refs& domain = *n.unique_domain;
    std::vector<PyObject*> left(domain.size());
    for (size_t i = 0; i < domain.size(); ++i) left[i] = domain[i].get();
    py::Ref list = py::new_list(0);
    py::Ref seen = py::check(PySet_New(nullptr));
    Many many(n.min_size, n.max_size, n.p_continue);
    while (!left.empty() && many.more(record)) {
        Py_ssize_t i = draw_index(record, static_cast<Py_ssize_t>(left.size()));
        PyObject* e = left[static_cast<size_t>(i)];
        left[static_cast<size_t>(i)] = left.back();
        left.pop_back();
        if (seen_before(seen.get(), e)) many.reject(record);
        else py::list_append(list.get(), e);
    }
    // The domain ran out of distinct values before min_size was reached.
    if (many.count < n.min_size) mark_invalid(record);
    return list;
}

py::Ref draw_lists(const kinds::Lists& n, PyObject* record) {
    if (n.unique_domain) return draw_unique_domain(n, record);
    if (n.unique_by) return collections::draw_unique_by(n, collections::AskNative{record});
    return collections::draw_list(n, collections::AskNative{record});
}

// Restores DEFERRED_DRAW_DEPTH on every road.
class DepthScope {
public:
    DepthScope() : saved_(deferred_draw_depth()) { deferred_draw_depth() = saved_ + 1; }
    ~DepthScope() { deferred_draw_depth() = saved_; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;

private:
    uint32_t saved_;
};

py::Ref draw_deferred(const kinds::Deferred& n, PyObject* record) {
    PyObject* definition = n.definition.get();
    if (!PyCallable_Check(definition)) {
        raise_invalid_argument("deferred() was passed a non-callable definition " + py::repr(definition));
    }
    py::Ref s = py::check(PyObject_CallNoArgs(definition));
    if (!is_search_strategy(s.get())) raise_expected_strategy(s.get());
    const auto* inner = node_if<kinds::Deferred>(s.get());
    if (inner && inner->definition.get() == definition) {
        raise_invalid_argument("Cannot define a deferred strategy to be itself");
    }
    if (deferred_draw_depth() >= 100) mark_invalid(record);
    DepthScope depth;
    return draw_child(s.get(), record);
}

py::Ref draw_map(const kinds::Map& n, PyObject* record) {
    py::Ref v = draw_child(n.base.get(), record);
    py::Ref r = call_with_one(n.pack.get(), v.get());
    record_created_call(r.get(), n.pack.get(), v.get());
    return r;
}

py::Ref draw_flat_map(const kinds::FlatMap& n, PyObject* record) {
    py::Ref v = draw_child(n.base.get(), record);
    py::Ref s = call_with_one(n.expand.get(), v.get());
    if (!is_search_strategy(s.get())) raise_expected_strategy(s.get());
    return draw_child(s.get(), record);
}

py::Ref draw_shared(const kinds::Shared& n, PyObject* record) {
    static py::Name k_dict{"__dict__"};
    py::Ref d = py::check(PyObject_GetAttr(record, k_dict.get()));
    if (!PyDict_Check(d.get())) py::raise_cannot_convert(d.get(), "PyDict");
    py::Ref key = py::str("__shared__" + n.key);
    if (PyObject* v = py::dict_get(d.get(), key.get())) return py::Ref::borrow(v);
    py::Ref v = draw_child(n.base.get(), record);
    py::check_rc(PyDict_SetItem(d.get(), key.get(), v.get()));
    return v;
}

}  // namespace

py::Ref draw_node(const StrategyNode& node, PyObject* record) {
    py::RecursionGuard guard(" while drawing from a strategy");
    switch (node.kind()) {
    case Kind::Integers: {
        const auto& n = *node.get<kinds::Integers>();
        return draw_int_obj(record, n.min_obj.get(), n.max_obj.get(), n.weights.get(), &n.sampler);
    }
    case Kind::Booleans: return py::boolean(draw_fair_boolean(record));
    case Kind::Floats: return draw_floats(*node.get<kinds::Floats>(), record);
    case Kind::NoneValue: return py::none();
    case Kind::Just: return node.get<kinds::Just>()->value;
    case Kind::Nothing: mark_invalid(record);
    case Kind::SampledFrom: return draw_sampled_from(*node.get<kinds::SampledFrom>(), record);
    case Kind::SampledFromRange: return draw_sampled_from_range(*node.get<kinds::SampledFromRange>(), record);
    case Kind::OneOf: return draw_one_of(*node.get<kinds::OneOf>(), record);
    case Kind::Tuples: return draw_tuples(*node.get<kinds::Tuples>(), record);
    case Kind::Lists: return draw_lists(*node.get<kinds::Lists>(), record);
    case Kind::Deferred: return draw_deferred(*node.get<kinds::Deferred>(), record);
    case Kind::Sets: return draw_sets(*node.get<kinds::Sets>(), record);
    case Kind::Dictionaries: return draw_dictionaries(*node.get<kinds::Dictionaries>(), record);
    case Kind::FixedDictionaries:
        return draw_fixed_dictionaries(*node.get<kinds::FixedDictionaries>(), record);
    case Kind::Text: {
        const auto& n = *node.get<kinds::Text>();
        data::RecordMut r(record);
        return r->draw_string_rs(n.alphabet.get(), n.min_size, n.max_size);
    }
    case Kind::Characters: {
        data::RecordMut r(record);
        return r->draw_string_rs(node.get<kinds::Characters>()->alphabet.get(), 1, 1);
    }
    case Kind::Binary: return draw_binary(*node.get<kinds::Binary>(), record);
    case Kind::Map: return draw_map(*node.get<kinds::Map>(), record);
    case Kind::Filter: return draw_filter(*node.get<kinds::Filter>(), record);
    case Kind::FlatMap: return draw_flat_map(*node.get<kinds::FlatMap>(), record);
    case Kind::Uuids: return draw_uuids(*node.get<kinds::Uuids>(), record);
    case Kind::Permutations: return draw_permutations(*node.get<kinds::Permutations>(), record);
    case Kind::Builds: return draw_builds(*node.get<kinds::Builds>(), record);
    case Kind::Composite: return draw_composite(*node.get<kinds::Composite>(), record);
    case Kind::Dates: return draw_dates(*node.get<kinds::Dates>(), record);
    case Kind::Times: return draw_times(*node.get<kinds::Times>(), record);
    case Kind::Datetimes: return draw_datetimes(*node.get<kinds::Datetimes>(), record);
    case Kind::Timedeltas: return draw_timedeltas(*node.get<kinds::Timedeltas>(), record);
    case Kind::ComplexNumbers: return draw_complex_numbers(*node.get<kinds::ComplexNumbers>(), record);
    case Kind::IpAddresses: return draw_ip_addresses(*node.get<kinds::IpAddresses>(), record);
    case Kind::Slices: return draw_slices(*node.get<kinds::Slices>(), record);
    case Kind::Fractions: return draw_fractions(*node.get<kinds::Fractions>(), record);
    case Kind::Decimals: return draw_decimals(*node.get<kinds::Decimals>(), record);
    case Kind::Data: return draw_data(*node.get<kinds::Data>(), record);
    case Kind::Functions: return draw_functions(*node.get<kinds::Functions>(), record);
    case Kind::Randoms: return draw_randoms(*node.get<kinds::Randoms>(), record);
    case Kind::Invalid: raise_stored_error(*node.get<kinds::Invalid>());
    case Kind::Shared: return draw_shared(*node.get<kinds::Shared>(), record);
    }
    py::throw_fault("unknown strategy node kind");
}

py::Ref draw_child(PyObject* child, PyObject* record) {
    if (is_native_child(child)) return draw_node(node_of(child), record);
    static py::Name k_draw{"draw"};
    return py::check(PyObject_CallMethodObjArgs(record, k_draw.get(), child, nullptr));
}

}  // namespace strategy
