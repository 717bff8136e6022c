// Random sampling: the value of each choice type drawn from the record's
// generator under its constraints (draw_random), when no prefix replays it.
#include <bit>
#include <cmath>
#include <limits>

#include "choice/constraints.hpp"
#include "choice/choice.hpp"
#include "data/record.hpp"
#include "data/sizes.hpp"
#include "data/tls.hpp"
#include "floats/floats.hpp"
#include "intervalset/intervalset.hpp"
#include "provider.hpp"

namespace data {

using choice::Key;
using choice::key_object;

namespace {

py::Ref integer_to_py(const provider::Integer& v) {
    switch (v.kind) {
        case provider::Integer::Kind::small: return py::from_i64(v.small);
        case provider::Integer::Kind::wide: return py::check(PyLong_FromDouble(v.wide));
        case provider::Integer::Kind::big: break;
    }
    return py::from_mpz(v.big);
}

// An integer bound: absent (nullptr or None) or the value.
bool read_bound(PyObject* o, provider::Integer& out) {
    if (!o || o == Py_None) return false;
    int64_t small;
    if (py::as_i64(o, small)) {
        out = provider::Integer::of(small);
        return true;
    }
    py::Ref hold = py::Ref::borrow(o);  // __index__ may run Python code
    out = provider::Integer::of(py::to_mpz(hold.get()));
    return true;
}

// The candidates of INJECT_CANDIDATES that lie within the bounds: one u
// decides whether to use them, gen_range picks one of those kept.
py::Ref pick_injected(rng::Rng& rng, const provider::Integer* lo, const provider::Integer* hi) {
    const std::vector<mpz_class>& cands = inject_candidates();
    if (cands.empty()) return {};
    if (rng.next_f64() >= 0.15) return {};
    std::optional<mpz_class> lo_m, hi_m;
    if (lo) lo_m = lo->to_mpz();
    if (hi) hi_m = hi->to_mpz();
    auto keep = [&](const mpz_class& v) { return (!lo_m || v >= *lo_m) && (!hi_m || v <= *hi_m); };
    uint64_t kept = 0;
    for (const mpz_class& v : cands) kept += keep(v);
    if (kept == 0) return {};
    uint64_t k = rng.gen_range(kept);
    for (const mpz_class& v : cands) {
        if (keep(v) && k-- == 0) return py::from_mpz(v);
    }
    py::throw_fault("inject candidate vanished");
}

// The weighted pick of an integer draw, or an empty Ref when the draw falls
// through to the distribution.
py::Ref pick_weighted(rng::Rng& rng, PyObject* weights) {
    if (!PyDict_Check(weights)) py::raise_cannot_convert(weights, "PyDict");
    Py_ssize_t pos = 0;
    PyObject *key, *w;
    bool plain = true;
    while (PyDict_Next(weights, &pos, &key, &w)) {
        if (!PyLong_CheckExact(key) || !PyFloat_CheckExact(w)) {
            plain = false;
            break;
        }
    }
    if (plain) {
        // Exact ints and floats: no Python code runs, the dict cannot change.
        double total = 0.0;
        pos = 0;
        while (PyDict_Next(weights, &pos, &key, &w)) total += PyFloat_AsDouble(w);
        double u = rng.next_f64();
        double acc = 1.0 - total;
        if (u < acc) return {};
        PyObject* last = nullptr;
        pos = 0;
        while (PyDict_Next(weights, &pos, &key, &w)) {
            acc += PyFloat_AsDouble(w);
            last = key;
            if (u < acc) return py::Ref::borrow(key);
        }
        return py::Ref::borrow(last);  // an empty dict never gets here: u < 1 - 0
    }
    // Conversions may run Python code: work on a snapshot of the items.
    py::Ref items = py::check(PyDict_Items(weights));
    Py_ssize_t n = PyList_Size(items.get());
    std::vector<std::pair<py::Ref, double>> pairs;
    pairs.reserve(static_cast<size_t>(n));
    double total = 0.0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GetItem(items.get(), i);
        py::Ref k = py::check(PyNumber_Index(PyTuple_GetItem(item, 0)));
        double x = PyFloat_AsDouble(PyTuple_GetItem(item, 1));
        if (x == -1.0 && PyErr_Occurred()) throw py::Err{};
        total += x;
        pairs.emplace_back(std::move(k), x);
    }
    double u = rng.next_f64();
    double acc = 1.0 - total;
    if (u < acc) return {};
    for (auto& [k, x] : pairs) {
        acc += x;
        if (u < acc) return k;
    }
    return pairs.back().first;
}

// An entry of a constraints dict (borrowed), nullptr when missing.
PyObject* entry(PyObject* c, Key k) {
    PyObject* o = PyDict_GetItemWithError(c, key_object(k));
    if (!o) py::check_no_error();
    return o;
}

// An integer draw between the bounds (nullptr: absent), weights nullptr or
// None when there are none; `sampler`, when given, made from these bounds.
py::Ref random_integer(rng::Rng& rng, const provider::Integer* lo, const provider::Integer* hi, PyObject* weights,
                       const IntegerSampler* sampler = nullptr) {
    if (py::Ref v = pick_injected(rng, lo, hi)) return v;
    if (weights && weights != Py_None) {
        if (py::Ref v = pick_weighted(rng, weights)) return v;
    }
    provider::Integer out;
    if (sampler) provider::draw_integer(rng, *sampler, out);
    else provider::draw_integer_from_distribution(rng, lo, hi, out);
    return integer_to_py(out);
}

py::Ref random_integer(rng::Rng& rng, PyObject* c) {
    provider::Integer lo, hi;
    bool has_lo = read_bound(entry(c, Key::MinValue), lo);
    bool has_hi = read_bound(entry(c, Key::MaxValue), hi);
    py::Ref weights = py::Ref::borrow(entry(c, Key::Weights));
    return random_integer(rng, has_lo ? &lo : nullptr, has_hi ? &hi : nullptr, weights.get());
}

py::Ref random_integer(rng::Rng& rng, const NodeConstraints& c, const IntegerSampler* sampler) {
    if (sampler) {
        return random_integer(rng, sampler->has_min ? &sampler->min : nullptr,
                              sampler->has_max ? &sampler->max : nullptr, c.weights(), sampler);
    }
    provider::Integer lo, hi;
    bool has_lo = read_bound(c.min_obj(), lo);
    bool has_hi = read_bound(c.max_obj(), hi);
    return random_integer(rng, has_lo ? &lo : nullptr, has_hi ? &hi : nullptr, c.weights());
}

double next_down(double x) { return -floats::next_up(-x); }

// The special values a float draw picks from now and then: those of a fixed
// list that the constraints permit, in the list's order.
struct FloatSpecials {
    double values[18];
    uint64_t n = 0;
};

FloatSpecials float_specials(const choice::FloatConstraints& k) {
    const double lo = k.min_value, hi = k.max_value;
    const double candidates[18] = {
        0.0,
        -0.0,
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::bit_cast<double>(uint64_t{0x7ff8000000000000}),
        std::bit_cast<double>(uint64_t{0xfff8000000000000}),
        std::bit_cast<double>(uint64_t{0x7ff8000000000001}),
        std::bit_cast<double>(uint64_t{0xfff8000000000001}),
        lo,
        floats::next_up(lo),
        lo + 1.0,
        hi - 1.0,
        next_down(hi),
        hi,
        std::bit_cast<double>(uint64_t{0x0000000000000001}),
        std::bit_cast<double>(uint64_t{0x8000000000000001}),
        std::bit_cast<double>(uint64_t{0x0008000000000000}),
        std::bit_cast<double>(uint64_t{0x8008000000000000}),
    };
    FloatSpecials out;
    for (double f : candidates) {
        if (floats::permitted_float(k.allow_nan, f, lo, hi, k.smallest_nonzero_magnitude)) out.values[out.n++] = f;
    }
    return out;
}

// float_specials of the constraints, remembered for the last constraints
// asked about (the draws of one strategy ask with the same ones again and
// again). A function of the four values alone, so the entry never goes stale.
const FloatSpecials& specials_for(const choice::FloatConstraints& k) {
    struct Entry {
        uint64_t lo = 0, hi = 0, smallest = 0;
        bool allow_nan = false;
        bool filled = false;
        FloatSpecials specials;
    };
    static Entry last;  // used under the interpreter lock only
    const uint64_t lo = std::bit_cast<uint64_t>(k.min_value), hi = std::bit_cast<uint64_t>(k.max_value),
                   smallest = std::bit_cast<uint64_t>(k.smallest_nonzero_magnitude);
    if (!last.filled || last.lo != lo || last.hi != hi || last.smallest != smallest ||
        last.allow_nan != k.allow_nan) {
        last.specials = float_specials(k);
        last.lo = lo;
        last.hi = hi;
        last.smallest = smallest;
        last.allow_nan = k.allow_nan;
        last.filled = true;
    }
    return last.specials;
}

py::Ref random_float(rng::Rng& rng, const choice::FloatConstraints& k) {
    const double lo = k.min_value, hi = k.max_value;
    const FloatSpecials& specials = specials_for(k);
    const uint64_t n = specials.n;
    const double* kept = specials.values;
    if (n > 0 && rng.next_f64() < 0.15) return py::from_double(kept[rng.gen_range(n)]);
    double v = floats::lex_to_float_rs(rng.next_u64());
    if (!rng.next_bool()) v = -v;
    if (!(std::isnan(v) && k.allow_nan)) {
        v = floats::float_clamp(k.allow_nan, v, lo, hi, k.smallest_nonzero_magnitude);
    }
    return py::from_double(v);
}

// UTF-8 length of code points (surrogates passed through take 3 bytes).
uint64_t utf8_length(const std::vector<int64_t>& cps) {
    uint64_t n = 0;
    for (int64_t cp : cps) n += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    return n;
}

}  // namespace

py::Ref BrindlemarData::draw_random(uint8_t t, const NodeConstraints& nc, const IntegerSampler* sampler) {
    // The record's own draws give their constraints natively; a draw given a
    // dict reads it here.
    const bool native = nc.form() != NodeConstraints::Form::Dict;
    PyObject* c = native ? nullptr : nc.dict();
    switch (t) {
        case TAG_INTEGER: return native ? random_integer(rng, nc, sampler) : random_integer(rng, c);
        case TAG_FLOAT:
            return random_float(rng, native ? choice::FloatConstraints{nc.min_f(), nc.max_f(), nc.allow_nan(),
                                                                        nc.smallest_f()}
                                            : choice::parse_float(c));
        case TAG_STRING: {
            choice::StringConstraints k =
                native ? choice::StringConstraints{py::Ref::borrow(nc.intervals()), nc.min_size(), nc.max_size()}
                       : choice::parse_string(c);
            const IntervalSet& set = k.set();
            const uint64_t n_chars = set.size;
            if (n_chars == 0) return py::str("");
            if (k.min_size > max_length) overrun();
            uint64_t n = provider::draw_collection_size(rng, k.min_size, k.max_size);
            thread_local std::vector<int64_t> cps;
            cps.clear();
            cps.reserve(n);
            for (uint64_t j = 0; j < n; ++j) {
                uint64_t i;
                if (n_chars <= 256) {
                    i = rng.gen_range(n_chars);
                } else if (rng.next_f64() < 0.2) {
                    i = 256 + rng.gen_range(n_chars - 256);
                } else {
                    i = rng.gen_range(256);
                }
                cps.push_back(set.char_in_shrink_order(static_cast<int64_t>(i)));
            }
            py::Ref s = choice::cps_to_pystr(cps);
            known_size_ = with_header(utf8_length(cps));
            return s;
        }
        case TAG_BYTES: {
            choice::BytesConstraints k =
                native ? choice::BytesConstraints{nc.min_size(), nc.max_size()} : choice::parse_bytes(c);
            if (k.min_size > max_length) overrun();
            uint64_t n = provider::draw_collection_size(rng, k.min_size, k.max_size);
            if (n > static_cast<uint64_t>(PY_SSIZE_T_MAX)) PyErr_NoMemory(), throw py::Err{};
            py::Ref b = py::check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n)));
            rng.fill_bytes(reinterpret_cast<uint8_t*>(PyBytes_AsString(b.get())), n);
            known_size_ = with_header(n);
            return b;
        }
        case TAG_BOOLEAN: {
            double p = native ? nc.p() : choice::parse_boolean(c).p;
            if (p <= 0.0) return py::boolean(false);
            if (p >= 1.0) return py::boolean(true);
            return py::boolean(rng.next_f64() < p);
        }
        default: break;
    }
    py::throw_fault("unknown choice type tag " + std::to_string(t));
}

}  // namespace data
