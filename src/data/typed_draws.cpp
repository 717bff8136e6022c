// Record draws: draw_inner, the random sampling of each choice type, the
// native entry points of the strategies and the Python draw methods.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "choice/constraints.hpp"
#include "choice/choice.hpp"
#include "data/record.hpp"
#include "data/record_py.hpp"
#include "data/tls.hpp"
#include "floats/floats.hpp"
#include "intervalset/intervalset.hpp"
#include "provider.hpp"

namespace data {

using choice::Key;
using choice::key_object;

// ---------------------------------------------------------------------------
// Serialized sizes

namespace {

uint64_t with_header(uint64_t payload) {
    uint64_t header = 1;
    if (payload >= 31) {
        for (uint64_t x = payload; x; x >>= 7) ++header;
    }
    return payload > UINT64_MAX - header ? UINT64_MAX : header + payload;
}

// Payload of an int: floor(bits(|v|) / 8) + 1.
uint64_t i64_payload(long long x) {
    uint64_t mag = x < 0 ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
    return static_cast<uint64_t>(std::bit_width(mag)) / 8 + 1;
}

bool int_payload(PyObject* v, uint64_t& out) {
    int overflow = 0;
    long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (!overflow) {
        if (x == -1 && PyErr_Occurred()) return false;
        out = i64_payload(x);
        return true;
    }
    mpz_class m;
    try {
        py::to_mpz(v, m);
    } catch (const py::Err&) {
        return false;
    }
    out = mpz_sizeinbase(m.get_mpz_t(), 2) / 8 + 1;
    return true;
}

bool str_payload(PyObject* v, uint64_t& out) {
    if (PyUnicode_CheckExact(v)) {
        Py_ssize_t n;
        if (PyUnicode_AsUTF8AndSize(v, &n)) {
            out = static_cast<uint64_t>(n);
            return true;
        }
        py::drop_exception();
        py::Ref b = py::Ref::steal(PyUnicode_AsEncodedString(v, "utf-8", "surrogatepass"));
        if (!b) return false;
        out = static_cast<uint64_t>(PyBytes_Size(b.get()));
        return true;
    }
    // A subclass encodes through its own method.
    PyObject* encode = PyObject_GetAttrString(v, "encode");
    if (!encode) return false;
    py::Ref owner = py::Ref::steal(encode);
    PyObject* args = Py_BuildValue("(s)", "utf-8");
    if (!args) return false;
    py::Ref a = py::Ref::steal(args);
    PyObject* kw = Py_BuildValue("{s:s}", "errors", "surrogatepass");
    if (!kw) return false;
    py::Ref k = py::Ref::steal(kw);
    py::Ref b = py::Ref::steal(PyObject_Call(encode, args, kw));
    if (!b) return false;
    Py_ssize_t n = PyObject_Size(b.get());
    if (n < 0) return false;
    out = static_cast<uint64_t>(n);
    return true;
}

}  // namespace

uint64_t serialized_size(PyObject* v) {
    uint64_t payload = 0;
    bool ok = true;
    if (PyBool_Check(v)) {
        payload = 0;
    } else if (PyLong_Check(v)) {
        ok = int_payload(v, payload);
    } else if (PyFloat_Check(v)) {
        payload = 8;
    } else if (PyUnicode_Check(v)) {
        ok = str_payload(v, payload);
    } else if (PyBytes_Check(v)) {
        payload = static_cast<uint64_t>(PyBytes_Size(v));
    } else {
        ok = false;
    }
    if (!ok) {
        py::drop_exception();
        return 1;
    }
    return with_header(payload);
}

// ---------------------------------------------------------------------------
// Random sampling

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

// ---------------------------------------------------------------------------
// draw_inner

void BrindlemarData::overrun() { mark(Status::Overrun, {}); }

namespace {

// Is an exact int within the bounds of an integer draw's sampler? None when
// the value or a bound does not fit 64 bits; else `size` is its serialized size.
std::optional<bool> int_within(PyObject* v, const IntegerSampler& s, uint64_t& size) {
    if (!PyLong_CheckExact(v)) return std::nullopt;
    int overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (overflow) return std::nullopt;
    using Kind = provider::Integer::Kind;
    if ((s.has_min && s.min.kind != Kind::small) || (s.has_max && s.max.kind != Kind::small)) return std::nullopt;
    size = with_header(i64_payload(x));
    return (!s.has_min || x >= s.min.small) && (!s.has_max || x <= s.max.small);
}

bool permitted(PyObject* v, uint8_t t, const NodeConstraints& c) {
    auto kind = choice::kind_of(v);
    if (!kind || static_cast<uint8_t>(*kind) != t) return false;
    try {
        return c.permits(v);
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

}  // namespace

py::Ref BrindlemarData::simplest_value(uint8_t t, const NodeConstraints& c) {
    // A collection's simplest value has min_size elements, built in full
    // (an index past 8191 elements fails at once with ChoiceTooLarge); when
    // it does not fit the limit, recording it overruns.
    try {
        return c.from_index(choice::Int(0), static_cast<choice::ChoiceType>(t));
    } catch (const py::Err&) {
        py::drop_exception();
    }
    overrun();
}

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

py::Ref BrindlemarData::draw_inner(uint8_t t, NodeConstraints nc, bool observe, PyObject* forced,
                                   const IntegerSampler* sampler) {
    if (nc.form() == NodeConstraints::Form::Dict && !PyDict_Check(nc.dict())) {
        py::throw_fault("constraints must be a dict");
    }
    // 1. Overrun checks.
    if (length >= max_length || (max_choices && *max_choices == nodes.size())) overrun();
    known_size_ = 0;
    py::Ref value;
    // 2. Prefix replay.
    if (observe && prefix && prefix_cursor < prefix->size()) {
        PrefixEntry& e = (*prefix)[prefix_cursor];
        if (e.kind == PrefixEntry::Kind::Value) {
            prefix_cursor += 1;
            py::Ref v = e.value;  // the entry stays alive even if Python code runs
            // An integer draw's sampler holds its bounds natively (made from
            // the same ones).
            uint64_t size = 0;
            std::optional<bool> within;
            if (t == TAG_INTEGER && sampler) within = int_within(v.get(), *sampler, size);
            if (within ? *within : permitted(v.get(), t, nc)) {
                known_size_ = size;
                value = std::move(v);
            } else {
                misaligned = true;
                value = simplest_value(t, nc);
            }
        } else {
            if (e.has_count) {
                // A count of k serves k draws; at zero or below, overrun at once
                // (lowering a spent count saturates rather than wraps).
                if (e.count <= 0) {
                    if (e.count > std::numeric_limits<int64_t>::min()) e.count -= 1;
                    overrun();
                }
            }
            value = forced ? py::Ref::borrow(forced) : simplest_value(t, nc);
            if (e.has_count) e.count -= 1;
        }
    } else if (forced) {
        value = py::Ref::borrow(forced);
    } else {
        value = draw_random(t, nc, sampler);
    }
    if (forced) {
        value = py::Ref::borrow(forced);
        known_size_ = 0;
    }
    if (!observe) return value;
    // 7. Record.
    uint64_t size = known_size_ ? known_size_ : serialized_size(value.get());
    span_events.push_back(SPAN_CHOICE);
    length = size > UINT64_MAX - length ? UINT64_MAX : length + size;
    nodes.emplace_back(value, std::move(nc), t, forced != nullptr);
    // 8. Past the limit: the node stays, the test case ends.
    if (length > max_length) overrun();
    return value;
}

// ---------------------------------------------------------------------------
// Native entry points

namespace {

// The constraints dict of a draw method given integer bounds as objects:
// every key of the type, in the order of the table of keys. A null bound or
// weights is None.
py::Ref integer_constraints(PyObject* min, PyObject* max, PyObject* weights, PyObject* shrink_towards) {
    return py_record::make_dict({{key_object(Key::MinValue), min ? min : Py_None},
                                 {key_object(Key::MaxValue), max ? max : Py_None},
                                 {key_object(Key::Weights), weights ? weights : Py_None},
                                 {key_object(Key::ShrinkTowards), shrink_towards}});
}

}  // namespace

py::Ref BrindlemarData::draw_integer_obj(PyObject* min, PyObject* max, PyObject* weights,
                                         int64_t shrink_towards, const IntegerSampler* sampler) {
    return draw_inner(TAG_INTEGER, NodeConstraints::integer(min, max, weights, shrink_towards), true, nullptr,
                      sampler);
}

py::Ref BrindlemarData::draw_integer_rs(const std::optional<mpz_class>& min,
                                        const std::optional<mpz_class>& max, PyObject* weights,
                                        int64_t shrink_towards) {
    py::Ref lo, hi;
    if (min) lo = py::from_mpz(*min);
    if (max) hi = py::from_mpz(*max);
    return draw_integer_obj(lo.get(), hi.get(), weights, shrink_towards);
}

py::Ref BrindlemarData::draw_float_rs(bool allow_nan, double min, double max,
                                      double smallest_nonzero_magnitude) {
    return draw_inner(TAG_FLOAT, NodeConstraints::floating(min, max, allow_nan, smallest_nonzero_magnitude), true,
                      nullptr);
}

py::Ref BrindlemarData::draw_string_rs(PyObject* intervals, uint64_t min_size, uint64_t max_size) {
    return draw_inner(TAG_STRING, NodeConstraints::string(intervals, min_size, max_size), true, nullptr);
}

py::Ref BrindlemarData::draw_bytes_rs(uint64_t min_size, uint64_t max_size) {
    return draw_inner(TAG_BYTES, NodeConstraints::bytes(min_size, max_size), true, nullptr);
}

bool BrindlemarData::draw_boolean_rs(double p, std::optional<bool> forced) {
    PyObject* f = forced ? (*forced ? Py_True : Py_False) : nullptr;
    py::Ref v = draw_inner(TAG_BOOLEAN, NodeConstraints::boolean(p), true, f);
    return py::truthy(v.get());
}

// ---------------------------------------------------------------------------
// Python draw methods

namespace py_record {
namespace {

constexpr double DEFAULT_SMALLEST = 5e-324;
constexpr uint64_t DEFAULT_MAX_SIZE = 10000000000ULL;

bool observe_arg(PyObject* o) { return o ? py::arg_bool(o, "observe") : true; }
PyObject* forced_arg(PyObject* o) { return o == Py_None ? nullptr : o; }

uint64_t size_arg(PyObject* o, const char* name, uint64_t dflt) {
    return o ? py::arg_u64(o, name) : dflt;
}

PyObject* draw_sized(PyObject* self, uint8_t t, PyObject* intervals, PyObject* min_o,
                     PyObject* max_o, PyObject* forced, PyObject* observe_o) {
    RecordMut r(self);
    uint64_t lo = size_arg(min_o, "min_size", 0);
    uint64_t hi = size_arg(max_o, "max_size", DEFAULT_MAX_SIZE);
    bool observe = observe_arg(observe_o);
    py::Ref alphabet;
    if (t == TAG_STRING) {
        if (intervalset::check(intervals)) {
            alphabet = py::Ref::borrow(intervals);
        } else {
            py::Ref pairs = py::getattr(intervals, "intervals");
            py::Ref cls = py::import_attr("quorvantis_fast._engine", "IntervalSet");
            alphabet = py::call(cls.get(), pairs.get());
        }
    }
    NodeConstraints c =
        t == TAG_STRING ? NodeConstraints::string(alphabet.get(), lo, hi) : NodeConstraints::bytes(lo, hi);
    return r->draw_inner(t, std::move(c), observe, forced_arg(forced)).release();
}

}  // namespace

py::Ref make_dict(std::initializer_list<std::pair<PyObject*, PyObject*>> items) {
    py::Ref d = py::new_dict();
    for (const auto& [key, value] : items) py::check_rc(PyDict_SetItem(d.get(), key, value));
    return d;
}

PyObject* draw_integer(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_integer",
                                 {"min_value", "max_value", "weights", "shrink_towards", "forced", "observe"},
                                 0, 2};
        auto a = sig.parse<6>(args, nargs, kwnames);
        RecordMut r(self);
        bool observe = observe_arg(a[5]);
        py::Ref st = a[3] && a[3] != Py_None ? py::Ref::borrow(a[3]) : py::from_i64(0);
        py::Ref c = integer_constraints(a[0], a[1], a[2], st.get());
        return r->draw_inner(TAG_INTEGER, NodeConstraints::of_dict(c.get()), observe, forced_arg(a[4])).release();
    });
}

PyObject* draw_float(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_float",
                                 {"min_value", "max_value", "allow_nan", "smallest_nonzero_magnitude",
                                  "forced", "observe"},
                                 0, 2};
        auto a = sig.parse<6>(args, nargs, kwnames);
        RecordMut r(self);
        const double inf = std::numeric_limits<double>::infinity();
        double lo = a[0] && a[0] != Py_None ? py::arg_f64(a[0], "min_value") : -inf;
        double hi = a[1] && a[1] != Py_None ? py::arg_f64(a[1], "max_value") : inf;
        bool allow_nan = a[2] ? py::arg_bool(a[2], "allow_nan") : true;
        double smallest = a[3] ? py::arg_f64(a[3], "smallest_nonzero_magnitude") : DEFAULT_SMALLEST;
        bool observe = observe_arg(a[5]);
        return r->draw_inner(TAG_FLOAT, NodeConstraints::floating(lo, hi, allow_nan, smallest), observe,
                             forced_arg(a[4]))
            .release();
    });
}

PyObject* draw_string(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_string", {"intervals", "min_size", "max_size", "forced", "observe"}, 1, 1};
        auto a = sig.parse<5>(args, nargs, kwnames);
        return draw_sized(self, TAG_STRING, a[0], a[1], a[2], a[3], a[4]);
    });
}

PyObject* draw_bytes(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_bytes", {"min_size", "max_size", "forced", "observe"}, 0, 2};
        auto a = sig.parse<4>(args, nargs, kwnames);
        return draw_sized(self, TAG_BYTES, nullptr, a[0], a[1], a[2], a[3]);
    });
}

PyObject* draw_boolean(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_boolean", {"p", "forced", "observe"}, 0, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        RecordMut r(self);
        double p = a[0] ? py::arg_f64(a[0], "p") : 0.5;
        bool observe = observe_arg(a[2]);
        return r->draw_inner(TAG_BOOLEAN, NodeConstraints::boolean(p), observe, forced_arg(a[1])).release();
    });
}

PyObject* choice(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice", {"values", "forced", "observe"}, 1, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        RecordMut r(self);
        bool observe = observe_arg(a[2]);
        PyObject* values = a[0];
        Py_ssize_t n = PyObject_Size(values);
        if (n < 0) throw py::Err{};
        py::Ref forced;
        if (a[1] && a[1] != Py_None) {
            py::Ref i = py::call_method(values, "index", a[1]);
            forced = py::check(PyNumber_Index(i.get()));
        }
        py::Ref zero = py::from_i64(0), top = py::from_i64(static_cast<int64_t>(n) - 1);
        py::Ref c = integer_constraints(zero.get(), top.get(), nullptr, zero.get());
        py::Ref drawn = r->draw_inner(TAG_INTEGER, NodeConstraints::of_dict(c.get()), observe, forced.get());
        uint64_t i = py::arg_u64(drawn.get(), "index");
        py::Ref key = py::from_u64(i);
        return py::check(PyObject_GetItem(values, key.get())).release();
    });
}

}  // namespace py_record
}  // namespace data
