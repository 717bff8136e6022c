// StrategyNode: the native description of one strategy.
//
// A tagged union of 39 kinds whose index is fixed: the draw interpreter, the
// node queries and the reprs dispatch on it. A child strategy is held as an
// owned reference to another strategy object, never as an embedded node, so
// a strategy tree is a graph of Python objects.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "data/integer_sampler.hpp"
#include "py/py.hpp"

namespace strategy {

// The max_size stored by collection constructors when none was given.
inline constexpr uint64_t UNBOUNDED_SIZE = 10000000000ULL;

enum class Kind : uint8_t {
    Integers = 0, Booleans, Floats, NoneValue, Just, Nothing, SampledFrom, SampledFromRange,
    OneOf, Tuples, Lists, Deferred, Sets, Dictionaries, FixedDictionaries, Text, Characters,
    Binary, Map, Filter, FlatMap, Uuids, Permutations, Builds, Composite, Dates, Times,
    Datetimes, Timedeltas, ComplexNumbers, IpAddresses, Slices, Fractions, Decimals, Data,
    Functions, Randoms, Invalid, Shared,
};
inline constexpr int KIND_COUNT = 39;

using Refs = std::vector<py::Ref>;
using OptInt = std::optional<mpz_class>;

// Every field struct lists its references through `each_ref`, so that the
// deallocator can take them out without recursing (see lifetime.cpp).
namespace kinds {

struct Integers {
    OptInt min_value, max_value;
    // The bounds as Python ints (empty where absent) and the weights of a
    // bounded draw wider than 128 values (min, min + 1, max - 1, max; empty
    // otherwise), made once with the node so that a draw builds nothing.
    py::Ref min_obj, max_obj, weights;
    // What every draw derives from the bounds.
    data::IntegerSampler sampler;

    // Throws py::Err when the Python objects cannot be made.
    Integers(OptInt min_value, OptInt max_value);
    template <class F> void each_ref(F&& f) { f(min_obj); f(max_obj); f(weights); }
};
struct Booleans { template <class F> void each_ref(F&&) {} };
struct Floats {
    double min_value = -HUGE_VAL, max_value = HUGE_VAL;
    double smallest_nonzero_magnitude = 0.0;
    uint32_t width = 64;
    bool allow_nan = false, allow_infinity = false;
    template <class F> void each_ref(F&&) {}
};
struct NoneValue { template <class F> void each_ref(F&&) {} };
struct Just {
    py::Ref value;
    template <class F> void each_ref(F&& f) { f(value); }
};
struct Nothing { template <class F> void each_ref(F&&) {} };
struct SampledFrom {
    Refs values;
    bool is_tuple = false;
    template <class F> void each_ref(F&& f) { for (auto& r : values) f(r); }
};
struct SampledFromRange {
    py::Ref range;
    template <class F> void each_ref(F&& f) { f(range); }
};
struct OneOf {
    Refs branches;
    template <class F> void each_ref(F&& f) { for (auto& r : branches) f(r); }
};
struct Tuples {
    Refs elements;
    template <class F> void each_ref(F&& f) { for (auto& r : elements) f(r); }
};
struct Lists {
    py::Ref elements;
    uint64_t min_size = 0, max_size = UNBOUNDED_SIZE;
    py::Ref unique_by;                      // empty: absent
    std::optional<Refs> unique_domain;      // candidate values of a unique list
    double p_continue = 0.0;  // of the sizes, set by StrategyNode::settle
    template <class F> void each_ref(F&& f) {
        f(elements);
        f(unique_by);
        if (unique_domain)
            for (auto& r : *unique_domain) f(r);
    }
};
struct Deferred {
    py::Ref definition;
    template <class F> void each_ref(F&& f) { f(definition); }
};
struct Sets {
    py::Ref elements;
    uint64_t min_size = 0, max_size = UNBOUNDED_SIZE;
    bool frozen = false;
    double p_continue = 0.0;  // of the sizes, set by StrategyNode::settle
    template <class F> void each_ref(F&& f) { f(elements); }
};
struct Dictionaries {
    py::Ref keys, values;
    uint64_t min_size = 0, max_size = UNBOUNDED_SIZE;
    double p_continue = 0.0;  // of the sizes, set by StrategyNode::settle
    template <class F> void each_ref(F&& f) { f(keys); f(values); }
};
struct FixedDictionaries {
    std::vector<std::pair<py::Ref, py::Ref>> entries;   // (key, strategy)
    std::vector<std::pair<py::Ref, py::Ref>> optional;  // keys that may be left out
    template <class F> void each_ref(F&& f) {
        for (auto& [k, v] : entries) { f(k); f(v); }
        for (auto& [k, v] : optional) { f(k); f(v); }
    }
};
struct Text {
    py::Ref alphabet;  // an IntervalSet
    uint64_t min_size = 0, max_size = UNBOUNDED_SIZE;
    template <class F> void each_ref(F&& f) { f(alphabet); }
};
struct Characters {
    std::string repr;
    py::Ref alphabet;  // an IntervalSet
    template <class F> void each_ref(F&& f) { f(alphabet); }
};
struct Binary {
    uint64_t min_size = 0, max_size = UNBOUNDED_SIZE;
    template <class F> void each_ref(F&&) {}
};
struct Map {
    py::Ref base, pack;
    template <class F> void each_ref(F&& f) { f(base); f(pack); }
};
struct Filter {
    py::Ref base, condition;
    // The text of the retry event (a str), made on the first retry of the
    // first draw that rejects a value; it depends only on the two fields.
    mutable py::Ref retry_text;

    Filter(py::Ref base, py::Ref condition) : base(std::move(base)), condition(std::move(condition)) {}
    template <class F> void each_ref(F&& f) { f(base); f(condition); f(retry_text); }
};
struct FlatMap {
    py::Ref base, expand;
    template <class F> void each_ref(F&& f) { f(base); f(expand); }
};
struct Uuids {
    std::optional<uint8_t> version;
    bool allow_nil = false;
    template <class F> void each_ref(F&&) {}
};
struct Permutations {
    Refs values;
    template <class F> void each_ref(F&& f) { for (auto& r : values) f(r); }
};
struct Builds {
    py::Ref target;
    Refs args;
    std::vector<std::pair<std::string, py::Ref>> kwargs;
    template <class F> void each_ref(F&& f) {
        f(target);
        for (auto& r : args) f(r);
        for (auto& [k, v] : kwargs) f(v);
    }
};
struct Composite {
    py::Ref function, args, kwargs;  // args a tuple, kwargs a dict
    template <class F> void each_ref(F&& f) { f(function); f(args); f(kwargs); }
};
struct Dates {
    int64_t min_ordinal = 0, max_ordinal = 0;
    template <class F> void each_ref(F&&) {}
};
struct Times {
    int64_t min_micros = 0, max_micros = 0;
    template <class F> void each_ref(F&&) {}
};
struct Datetimes {
    int64_t min_ordinal = 0, max_ordinal = 0;
    // Microsecond of the day of each bound: draws on the first and the last
    // day keep to the bound's time of day.
    int64_t min_time_micros = 0, max_time_micros = 86399999999;
    template <class F> void each_ref(F&&) {}
};
struct Timedeltas {
    mpz_class min_micros, max_micros;
    template <class F> void each_ref(F&&) {}
};
struct ComplexNumbers {
    bool allow_nan = true;
    // Bounds on the magnitude and the width of the two parts (128: two
    // doubles; 64: two binary32; 32: two binary16).
    bool allow_infinity = true;
    double min_magnitude = 0.0, max_magnitude = HUGE_VAL;
    uint32_t width = 128;
    template <class F> void each_ref(F&&) {}
};
struct IpAddresses {
    std::optional<std::pair<mpz_class, mpz_class>> network;
    uint8_t version = 2;  // 0 IPv4, 1 IPv6, 2 either
    template <class F> void each_ref(F&&) {}
};
struct Slices {
    int64_t size = 0;
    template <class F> void each_ref(F&&) {}
};
struct Fractions {
    py::Ref min_value, max_value;  // empty: absent
    int64_t max_denominator = 1;
    template <class F> void each_ref(F&& f) { f(min_value); f(max_value); }
};
struct Decimals {
    std::optional<int32_t> places;
    py::Ref min_value, max_value;  // empty: absent
    template <class F> void each_ref(F&& f) { f(min_value); f(max_value); }
};
struct Data { template <class F> void each_ref(F&&) {} };
struct Functions {
    py::Ref like, returns;
    bool pure = false;
    template <class F> void each_ref(F&& f) { f(like); f(returns); }
};
struct Randoms {
    bool note_method_calls = false, use_true_random = false;
    template <class F> void each_ref(F&&) {}
};
struct Invalid {
    std::string message;
    bool resolution_failure = false;
    template <class F> void each_ref(F&&) {}
};
struct Shared {
    std::string key;
    py::Ref base;
    template <class F> void each_ref(F&& f) { f(base); }
};

}  // namespace kinds

using NodeVariant = std::variant<
    kinds::Integers, kinds::Booleans, kinds::Floats, kinds::NoneValue, kinds::Just, kinds::Nothing,
    kinds::SampledFrom, kinds::SampledFromRange, kinds::OneOf, kinds::Tuples, kinds::Lists,
    kinds::Deferred, kinds::Sets, kinds::Dictionaries, kinds::FixedDictionaries, kinds::Text,
    kinds::Characters, kinds::Binary, kinds::Map, kinds::Filter, kinds::FlatMap, kinds::Uuids,
    kinds::Permutations, kinds::Builds, kinds::Composite, kinds::Dates, kinds::Times,
    kinds::Datetimes, kinds::Timedeltas, kinds::ComplexNumbers, kinds::IpAddresses, kinds::Slices,
    kinds::Fractions, kinds::Decimals, kinds::Data, kinds::Functions, kinds::Randoms,
    kinds::Invalid, kinds::Shared>;
static_assert(std::variant_size_v<NodeVariant> == KIND_COUNT);

struct StrategyNode {
    NodeVariant v;

    StrategyNode() : v(kinds::NoneValue{}) {}
    template <class T>
        requires(!std::is_same_v<std::remove_cvref_t<T>, StrategyNode>)
    StrategyNode(T&& fields) : v(std::forward<T>(fields)) {}

    Kind kind() const noexcept { return static_cast<Kind>(v.index()); }
    template <class T> T* get() noexcept { return std::get_if<T>(&v); }
    template <class T> const T* get() const noexcept { return std::get_if<T>(&v); }

    // Derives what the draws take from the node's fixed fields (such as the
    // continuation probability of a collection's sizes). Called when the
    // node is put in a strategy object, after which it never changes.
    void settle();

    // Calls f on every owned reference of the node.
    template <class F> void each_ref(F&& f) {
        std::visit([&](auto& k) { k.each_ref(f); }, v);
    }
};

// Kind index <-> field struct, checked once here so that no table drifts.
#define QF_CHECK_KIND(name) \
    static_assert(std::is_same_v<std::variant_alternative_t<static_cast<size_t>(Kind::name), NodeVariant>, kinds::name>);
QF_CHECK_KIND(Integers) QF_CHECK_KIND(Booleans) QF_CHECK_KIND(Floats) QF_CHECK_KIND(NoneValue)
QF_CHECK_KIND(Just) QF_CHECK_KIND(Nothing) QF_CHECK_KIND(SampledFrom)
QF_CHECK_KIND(SampledFromRange) QF_CHECK_KIND(OneOf) QF_CHECK_KIND(Tuples) QF_CHECK_KIND(Lists)
QF_CHECK_KIND(Deferred) QF_CHECK_KIND(Sets) QF_CHECK_KIND(Dictionaries)
QF_CHECK_KIND(FixedDictionaries) QF_CHECK_KIND(Text) QF_CHECK_KIND(Characters)
QF_CHECK_KIND(Binary) QF_CHECK_KIND(Map) QF_CHECK_KIND(Filter) QF_CHECK_KIND(FlatMap)
QF_CHECK_KIND(Uuids) QF_CHECK_KIND(Permutations) QF_CHECK_KIND(Builds) QF_CHECK_KIND(Composite)
QF_CHECK_KIND(Dates) QF_CHECK_KIND(Times) QF_CHECK_KIND(Datetimes) QF_CHECK_KIND(Timedeltas)
QF_CHECK_KIND(ComplexNumbers) QF_CHECK_KIND(IpAddresses) QF_CHECK_KIND(Slices)
QF_CHECK_KIND(Fractions) QF_CHECK_KIND(Decimals) QF_CHECK_KIND(Data) QF_CHECK_KIND(Functions)
QF_CHECK_KIND(Randoms) QF_CHECK_KIND(Invalid) QF_CHECK_KIND(Shared)
#undef QF_CHECK_KIND

// An Integers node (a Python error throws).
inline StrategyNode make_integers(OptInt min_value, OptInt max_value) {
    return kinds::Integers(std::move(min_value), std::move(max_value));
}

}  // namespace strategy
