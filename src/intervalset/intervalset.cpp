// The interval-set value: building, set algebra, position queries, hash.
#include "intervalset/intervalset.hpp"

#include <algorithm>
#include <climits>
#include <string>

namespace intervalset {

namespace {

using i128 = __int128;

constexpr int64_t kZero = '0';
constexpr int64_t kUpperZ = 'Z';

i128 count_of(const Interval& iv) { return iv.end < iv.start ? 0 : static_cast<i128>(iv.end) - iv.start + 1; }

int64_t clamp_i64(uint64_t v) { return v > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(v); }

// Does `next` (sorted after `last`) overlap or touch `last`?
bool touches(const Interval& last, const Interval& next) {
    return static_cast<i128>(next.start) <= static_cast<i128>(last.end) + 1;
}

// The first interval that `v` does not lie above: for an ordered set by
// bisection, else by the walk in stored order. n when there is none.
size_t first_not_below(const IntervalSet& s, int64_t v) {
    const Intervals& ivs = s.intervals;
    if (s.ordered) {
        auto it = std::partition_point(ivs.begin(), ivs.end(), [v](const Interval& iv) { return iv.end < v; });
        return static_cast<size_t>(it - ivs.begin());
    }
    for (size_t k = 0; k < ivs.size(); ++k) {
        if (v <= ivs[k].start || v <= ivs[k].end) return k;
    }
    return ivs.size();
}

[[noreturn]] void not_in_list(int64_t c) { py::raise_value_error(std::to_string(c) + " is not in list"); }

// SipHash-1-3 over whole little-endian 64-bit words.
class SipHash13 {
public:
    void word(uint64_t m) {
        v3_ ^= m;
        round();
        v0_ ^= m;
        len_ += 8;
    }
    uint64_t finish() {
        uint64_t b = static_cast<uint64_t>(len_ & 0xff) << 56;
        v3_ ^= b;
        round();
        v0_ ^= b;
        v2_ ^= 0xff;
        round();
        round();
        round();
        return v0_ ^ v1_ ^ v2_ ^ v3_;
    }

private:
    static uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }
    void round() {
        v0_ += v1_;
        v1_ = rotl(v1_, 13);
        v1_ ^= v0_;
        v0_ = rotl(v0_, 32);
        v2_ += v3_;
        v3_ = rotl(v3_, 16);
        v3_ ^= v2_;
        v0_ += v3_;
        v3_ = rotl(v3_, 21);
        v3_ ^= v0_;
        v2_ += v1_;
        v1_ = rotl(v1_, 17);
        v1_ ^= v2_;
        v2_ = rotl(v2_, 32);
    }
    // The key is 128 zero bits.
    uint64_t v0_ = 0x736f6d6570736575ULL;
    uint64_t v1_ = 0x646f72616e646f6dULL;
    uint64_t v2_ = 0x6c7967656e657261ULL;
    uint64_t v3_ = 0x7465646279746573ULL;
    uint64_t len_ = 0;
};

// Code points of UTF-8 text; malformed text is a fault.
std::vector<int64_t> decode_utf8(std::string_view s) {
    std::vector<int64_t> out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto b0 = static_cast<unsigned char>(s[i]);
        int extra = b0 < 0x80 ? 0 : b0 >= 0xF8 ? -1 : b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : -1;
        if (extra < 0 || s.size() - i <= static_cast<size_t>(extra)) py::throw_fault("malformed UTF-8 text");
        int64_t cp = extra == 0 ? b0 : b0 & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((b & 0xC0) != 0x80) py::throw_fault("malformed UTF-8 text");
            cp = (cp << 6) | (b & 0x3F);
        }
        out.push_back(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

}  // namespace

Intervals sort_and_merge(Intervals pairs) {
    std::sort(pairs.begin(), pairs.end());
    Intervals out;
    for (const Interval& p : pairs) {
        if (!out.empty() && touches(out.back(), p)) {
            out.back().end = std::max(out.back().end, p.end);
        } else {
            out.push_back(p);
        }
    }
    return out;
}

IntervalSet IntervalSet::build(Intervals ivs) {
    IntervalSet s;
    s.intervals = std::move(ivs);
    s.offsets.reserve(s.intervals.size());
    i128 total = 0;
    for (size_t k = 0; k < s.intervals.size(); ++k) {
        const Interval& iv = s.intervals[k];
        s.offsets.push_back(static_cast<uint64_t>(total));
        total += count_of(iv);
        if (total > static_cast<i128>(UINT64_MAX)) {
            py::raise_overflow_error("an IntervalSet holds at most 2**64 - 1 code points");
        }
        if (iv.end < iv.start || (k > 0 && iv.start <= s.intervals[k - 1].end)) s.ordered = false;
    }
    s.size = static_cast<uint64_t>(total);
    s.idx_of_zero = clamp_i64(s.index_above(kZero));
    uint64_t last = s.size == 0 ? 0 : s.size - 1;
    s.idx_of_Z = clamp_i64(std::min(last, s.index_above(kUpperZ)));
    return s;
}

IntervalSet IntervalSet::from_string_rs(std::string_view utf8) {
    std::vector<int64_t> cps = decode_utf8(utf8);
    std::sort(cps.begin(), cps.end());
    Intervals out;
    for (int64_t c : cps) {
        if (!out.empty() && c <= out.back().end + 1) {
            out.back().end = std::max(out.back().end, c);
        } else {
            out.push_back({c, c});
        }
    }
    return build(std::move(out));
}

IntervalSet IntervalSet::union_rs(std::span<const Interval> a, std::span<const Interval> b) {
    if (a.empty()) return build(Intervals(b.begin(), b.end()));
    if (b.empty()) return build(Intervals(a.begin(), a.end()));
    Intervals all;
    all.reserve(a.size() + b.size());
    all.insert(all.end(), a.begin(), a.end());
    all.insert(all.end(), b.begin(), b.end());
    return build(sort_and_merge(std::move(all)));
}

IntervalSet IntervalSet::intersection_rs(std::span<const Interval> a, std::span<const Interval> b) {
    Intervals out;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const Interval& x = a[i];
        const Interval& y = b[j];
        if (x.start > y.end) {
            ++j;
        } else if (y.start > x.end) {
            ++i;
        } else {
            out.push_back({std::max(x.start, y.start), std::min(x.end, y.end)});
            if (x.end < y.end) ++i;
            else ++j;
        }
    }
    return build(std::move(out));
}

IntervalSet IntervalSet::difference_rs(std::span<const Interval> a, std::span<const Interval> b) {
    if (b.empty()) return build(Intervals(a.begin(), a.end()));
    if (a.empty()) return build({});
    Intervals x(a.begin(), a.end());
    Intervals out;
    size_t i = 0, j = 0;
    while (i < x.size() && j < b.size()) {
        const auto [s, e] = x[i];
        const auto [u, v] = b[j];
        if (v < s) {
            ++j;
        } else if (u > e) {
            out.push_back(x[i]);
            ++i;
        } else {
            // u - 1 is taken only when s < u, v + 1 only when v < e: no overflow.
            if (s < u) out.push_back({s, u - 1});
            if (v < e) {
                x[i].start = v + 1;
                ++j;
            } else {
                ++i;
            }
        }
    }
    out.insert(out.end(), x.begin() + static_cast<std::ptrdiff_t>(i), x.end());
    return build(std::move(out));
}

int64_t IntervalSet::getitem_rs(int64_t i) const {
    i128 at = i < 0 ? static_cast<i128>(i) + size : static_cast<i128>(i);
    if (at < 0 || at >= static_cast<i128>(size)) {
        // Out of range, `at` is either negative (i < 0) or i itself.
        py::raise(PyExc_IndexError, "Invalid index " + std::to_string(static_cast<int64_t>(at)) + " for [0, " +
                                        std::to_string(size) + ")");
    }
    auto pos = static_cast<uint64_t>(at);
    size_t k = static_cast<size_t>(std::upper_bound(offsets.begin(), offsets.end(), pos) - offsets.begin()) - 1;
    return static_cast<int64_t>(intervals[k].start + static_cast<i128>(pos - offsets[k]));
}

uint64_t IntervalSet::ordinal_of(int64_t c) const {
    for (size_t k = first_not_below(*this, c); k < intervals.size(); ++k) {
        const Interval& iv = intervals[k];
        if (c < iv.start) break;
        if (c <= iv.end) return offsets[k] + static_cast<uint64_t>(static_cast<i128>(c) - iv.start);
        // An empty pair (start > end) starting at c: the walk goes on.
    }
    not_in_list(c);
}

uint64_t IntervalSet::index_above(int64_t v) const {
    size_t k = first_not_below(*this, v);
    if (k == intervals.size()) return size;
    const Interval& iv = intervals[k];
    if (v <= iv.start) return offsets[k];
    return offsets[k] + static_cast<uint64_t>(static_cast<i128>(v) - iv.start);
}

bool IntervalSet::contains(int64_t c) const {
    if (ordered) {
        size_t k = first_not_below(*this, c);
        return k < intervals.size() && intervals[k].start <= c;
    }
    return std::any_of(intervals.begin(), intervals.end(),
                       [c](const Interval& iv) { return iv.start <= c && c <= iv.end; });
}

int64_t IntervalSet::char_in_shrink_order(int64_t i) const {
    // 0 <= z, Z <= INT64_MAX, so none of these can overflow.
    const int64_t z = idx_of_zero, Z = idx_of_Z;
    int64_t pos = i > Z ? i : i <= Z - z ? z + i : Z - i;
    return getitem_rs(pos);
}

uint64_t IntervalSet::shrink_index_of_position(uint64_t k) const {
    const auto z = static_cast<uint64_t>(idx_of_zero), Z = static_cast<uint64_t>(idx_of_Z);
    if (k > Z) return k;
    if (k >= z) return k - z;
    return Z - k;
}

uint64_t IntervalSet::index_from_char_in_shrink_order(int64_t c) const {
    return shrink_index_of_position(ordinal_of(c));
}

int64_t IntervalSet::hash() const {
    SipHash13 h;
    h.word(static_cast<uint64_t>(intervals.size()));
    for (const Interval& iv : intervals) {
        h.word(static_cast<uint64_t>(iv.start));
        h.word(static_cast<uint64_t>(iv.end));
    }
    auto r = static_cast<int64_t>(h.finish());
    return r == -1 ? -2 : r;
}

py::Ref IntervalSet::intervals_tuple(std::span<const Interval> ivs) {
    py::Ref t = py::check(PyTuple_New(static_cast<Py_ssize_t>(ivs.size())));
    for (size_t k = 0; k < ivs.size(); ++k) {
        py::Ref a = py::from_i64(ivs[k].start);
        py::Ref b = py::from_i64(ivs[k].end);
        py::Ref pair = py::check(PyTuple_Pack(2, a.get(), b.get()));
        PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(k), pair.release());
    }
    return t;
}

int64_t codepoint_of(PyObject* o) {
    py::Ref number;
    if (PyUnicode_Check(o)) {
        if (PyUnicode_GetLength(o) == 1) return PyUnicode_ReadChar(o, 0);
        number = py::call(py::import_attr("builtins", "ord").get(), o);  // raises ord's TypeError
    } else {
        number = py::check(PyNumber_Index(o));
    }
    long long v = PyLong_AsLongLong(number.get());
    if (v == -1 && PyErr_Occurred()) throw py::Err{};
    return v;
}

py::Ref codepoint_str(int64_t cp) {
    if (cp >= 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
        return py::check(PyUnicode_FromOrdinal(static_cast<int>(cp)));
    }
    py::Ref n = py::from_i64(cp);
    return py::call(py::import_attr("builtins", "chr").get(), n.get());
}

}  // namespace intervalset
