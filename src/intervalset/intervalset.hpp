// Sets of Unicode code points held as closed intervals, and their Python
// classes IntervalSet and IntervalSetIter.
//
// A set never changes after it is built; every operation makes a new one.
// The set operations (`union_rs`, `intersection_rs`, `difference_rs`,
// `from_string_rs`) give the normalised form: sorted, disjoint, not adjacent,
// start <= end. `build` and the Python constructor keep the pairs as given;
// every query then works on the stored order.
//
// Positions (the place of a code point in the set, counted from 0) and sizes
// are unsigned: a raw set spanning most of the 64-bit range can hold more
// than 2**63 members; a set of 2**64 or more members (only the whole 64-bit
// range or overlapping raw pairs reach that) cannot be built: OverflowError.
// Arithmetic never overflows, and a pair with start > end holds nothing and
// counts 0.
#pragma once

#include <compare>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "py/py.hpp"

namespace intervalset {

// One closed interval of code points, both ends included.
struct Interval {
    int64_t start;
    int64_t end;
    friend bool operator==(const Interval&, const Interval&) = default;
    friend auto operator<=>(const Interval&, const Interval&) = default;
};
using Intervals = std::vector<Interval>;

// Sort pairs by (start, end) and merge each pair into the previous one when
// it overlaps or touches it: the merge step of a union.
Intervals sort_and_merge(Intervals pairs);

class IntervalSet {
public:
    // Fields, computed once by `build`; treat them as read-only.
    Intervals intervals;            // in stored order
    std::vector<uint64_t> offsets;  // offsets[k]: members of intervals 0 .. k-1
    uint64_t size = 0;              // number of members
    int64_t idx_of_zero = 0;        // index_above('0')
    int64_t idx_of_Z = 0;           // min(max(size - 1, 0), index_above('Z'))
    bool ordered = true;            // sorted, disjoint, start <= end (enables bisection)

    IntervalSet() = default;

    // Takes the pairs unchanged and computes the derived fields. Throws
    // py::Err (OverflowError) only for 2**64 or more members.
    static IntervalSet build(Intervals intervals);
    // The distinct code points of UTF-8 text, normalised. A malformed byte
    // sequence is a fault (the text comes from Python strings).
    static IntervalSet from_string_rs(std::string_view utf8);
    // If either side is empty, the other side as it is; else sorted and merged.
    static IntervalSet union_rs(std::span<const Interval> a, std::span<const Interval> b);
    static IntervalSet intersection_rs(std::span<const Interval> a, std::span<const Interval> b);
    // Members of `a` that are not in `b`.
    static IntervalSet difference_rs(std::span<const Interval> a, std::span<const Interval> b);

    // The code point at position i (negative i counts from the end). Raises
    // IndexError "Invalid index {} for [0, {})" (throws py::Err).
    int64_t getitem_rs(int64_t i) const;
    // The position of code point c. Raises ValueError "{} is not in list".
    uint64_t ordinal_of(int64_t c) const;
    // The position of the first member >= v, or `size`.
    uint64_t index_above(int64_t v) const;
    bool contains(int64_t c) const;

    // Shrink order of characters: "0" .. "Z" of the set first, then the
    // members below "0" descending, then the members above "Z" ascending.
    // The code point at shrink index i (IndexError as getitem_rs).
    int64_t char_in_shrink_order(int64_t i) const;
    // The shrink index of code point c (ValueError as ordinal_of).
    uint64_t index_from_char_in_shrink_order(int64_t c) const;
    // The shrink index of position k (0 <= k < size).
    uint64_t shrink_index_of_position(uint64_t k) const;

    // SipHash-1-3 (zero key) of the interval count and pairs, little-endian.
    int64_t hash() const;

    // A Python tuple of (start, end) tuples.
    static py::Ref intervals_tuple(std::span<const Interval> intervals);
};

// The code point a Python object stands for: a str (or subclass) through
// builtins.ord, anything else through integer conversion (__index__).
int64_t codepoint_of(PyObject* o);
// A one-character str for a code point: Unicode scalar values directly,
// anything else through builtins.chr (its result or error).
py::Ref codepoint_str(int64_t cp);

// Python objects. The type objects are made once per process on first
// request (throws py::Err when that fails) and live as long as the process.
PyObject* type();       // IntervalSet (borrowed)
PyObject* iter_type();  // IntervalSetIter (borrowed)
// Is o an IntervalSet object? (The class cannot be subclassed.)
bool check(PyObject* o);
// The value inside an IntervalSet object; o must pass `check`.
const IntervalSet& value(PyObject* o);
// A new Python IntervalSet object owning v.
py::Ref wrap(IntervalSet v);

}  // namespace intervalset

// The set type is used under its own name everywhere: `IntervalSet::build`.
using intervalset::IntervalSet;
