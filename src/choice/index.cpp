// Orders and indices of integers, floats and booleans.
#include <cmath>

#include "choice/choice.hpp"
#include "floats/floats.hpp"

namespace choice {

namespace {

// The integer algorithms are written once for a numeric type T: __int128
// when every operand is far inside its range (no intermediate can then
// overflow: they grow by a factor of at most 4), mpz_class otherwise.
constexpr i128 SAFE = static_cast<i128>(1) << 120;

bool safe(const Int& v) { return v.is_small() && v.small() > -SAFE && v.small() < SAFE; }
bool safe(const std::optional<Int>& v) { return !v || safe(*v); }

template <class T>
T get(const Int& v);
template <>
i128 get<i128>(const Int& v) {
    return v.small();
}
template <>
mpz_class get<mpz_class>(const Int& v) {
    return v.to_mpz();
}

Int out(i128 v) { return Int::of(v); }
Int out(const mpz_class& v) { return Int::of(v); }

template <class T>
struct Bounds {
    std::optional<T> min, max;
    T st;  // clamped shrink_towards
};

template <class T>
T absval(const T& v) {
    return v < 0 ? T(-v) : v;
}

template <class T>
T zigzag_index(const T& v, const T& st) {
    T d = absval<T>(T(st - v));
    T r = d + d;
    if (v > st) r -= 1;
    return r;
}

template <class T>
T zigzag_value(const T& i, const T& st) {
    T n = T(i + 1) / 2;  // truncates towards zero
    if (T(i % 2) == 0) n = -n;
    return T(st + n);
}

template <class T>
T clamp(const T& st, const std::optional<T>& min, const std::optional<T>& max) {
    T r = st;
    if (min && *min > r) r = *min;
    if (max && *max < r) r = *max;
    return r;
}

template <class T>
Bounds<T> bounds(const IntegerConstraints& c) {
    Bounds<T> b;
    if (c.min_value) b.min = get<T>(*c.min_value);
    if (c.max_value) b.max = get<T>(*c.max_value);
    b.st = clamp<T>(get<T>(c.shrink_towards), b.min, b.max);
    return b;
}

// Which one-sided rule applies: true for "only max_value" (rule 2).
template <class T>
bool upper_rule(const Bounds<T>& b) {
    if (b.min && b.max) return T(b.st - *b.min) >= T(*b.max - b.st);
    return b.max.has_value();
}

template <class T>
T to_index(const T& v, const Bounds<T>& b) {
    if (!b.min && !b.max) return zigzag_index<T>(v, b.st);
    T dist = absval<T>(T(v - b.st));
    if (upper_rule(b)) {
        return dist <= T(*b.max - b.st) ? zigzag_index<T>(v, b.st) : T(*b.max - v);
    }
    return dist <= T(b.st - *b.min) ? zigzag_index<T>(v, b.st) : T(v - *b.min);
}

template <class T>
T from_index(const T& i, const Bounds<T>& b) {
    if (!b.min && !b.max) return zigzag_value<T>(i, b.st);
    if (upper_rule(b)) {
        return i <= zigzag_index<T>(*b.max, b.st) ? zigzag_value<T>(i, b.st) : T(*b.max - i);
    }
    return i <= zigzag_index<T>(*b.min, b.st) ? zigzag_value<T>(i, b.st) : T(*b.min + i);
}

bool safe(const IntegerConstraints& c) {
    return safe(c.min_value) && safe(c.max_value) && safe(c.shrink_towards);
}

constexpr double TWO_POW_MINUS_64 = 5.421010862427522e-20;

}  // namespace

Int zigzag_index_bi(const Int& value, const Int& shrink_towards) {
    if (safe(value) && safe(shrink_towards)) {
        return out(zigzag_index<i128>(value.small(), shrink_towards.small()));
    }
    return out(zigzag_index<mpz_class>(value.to_mpz(), shrink_towards.to_mpz()));
}

Int zigzag_value_bi(const Int& index, const Int& shrink_towards) {
    if (safe(index) && safe(shrink_towards)) {
        return out(zigzag_value<i128>(index.small(), shrink_towards.small()));
    }
    return out(zigzag_value<mpz_class>(index.to_mpz(), shrink_towards.to_mpz()));
}

Int clamp_shrink_towards(const Int& shrink_towards, const std::optional<Int>& min_value,
                         const std::optional<Int>& max_value) {
    return clamp<Int>(shrink_towards, min_value, max_value);
}

Int int_to_index(const Int& value, const IntegerConstraints& c) {
    if (safe(value) && safe(c)) return out(to_index<i128>(value.small(), bounds<i128>(c)));
    return out(to_index<mpz_class>(value.to_mpz(), bounds<mpz_class>(c)));
}

Int int_from_index(const Int& index, const IntegerConstraints& c) {
    if (safe(index) && safe(c)) return out(from_index<i128>(index.small(), bounds<i128>(c)));
    return out(from_index<mpz_class>(index.to_mpz(), bounds<mpz_class>(c)));
}

bool int_permitted(const Int& value, const IntegerConstraints& c) {
    if (c.min_value && value < *c.min_value) return false;
    if (c.max_value && value > *c.max_value) return false;
    return true;
}

Int float_to_index(double f) {
    i128 lex = floats::float_to_lex(f);
    if (std::signbit(f)) lex += static_cast<i128>(1) << 64;
    return Int::of(lex);
}

double float_from_index(const Int& index, const FloatConstraints& c) {
    bool negative;
    uint64_t lex;
    if (index.is_small()) {
        i128 i = index.small();
        negative = (i >> 64) != 0;  // arithmetic shift: floor
        lex = static_cast<uint64_t>(i);
    } else {
        // Beyond 128 bits: never within [0, 2^64).
        negative = true;
        mpz_class low;
        mpz_fdiv_r_2exp(low.get_mpz_t(), index.big().get_mpz_t(), 64);
        lex = mpz_get_ui(low.get_mpz_t());
    }
    double f = floats::lex_to_float_rs(lex);
    if (negative) f = -f;
    return floats::float_clamp(c.allow_nan, f, c.min_value, c.max_value,
                               c.smallest_nonzero_magnitude);
}

bool float_permitted(double f, const FloatConstraints& c) {
    return floats::permitted_float(c.allow_nan, f, c.min_value, c.max_value,
                                   c.smallest_nonzero_magnitude);
}

Int bool_to_index(bool v, double p) {
    return (p > TWO_POW_MINUS_64 && p < 1.0 && v) ? Int(1) : Int(0);
}

bool bool_from_index(const Int& index, double p) {
    if (p <= TWO_POW_MINUS_64) return false;
    return !index.is_zero() || p >= 1.0;
}

bool bool_permitted(bool v, double p) {
    if (p <= 0.0) return !v;
    if (p >= 1.0) return v;
    return true;
}

}  // namespace choice
