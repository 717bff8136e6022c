#include "floats/floats.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>

namespace floats {
namespace {

constexpr uint64_t MANTISSA_MASK = (uint64_t{1} << 52) - 1;
constexpr uint64_t INTEGER_FORM_MASK = (uint64_t{1} << 56) - 1;
constexpr uint64_t EXPONENT_FORM = uint64_t{1} << 63;
constexpr double TWO_56 = 72057594037927936.0;
constexpr double MANTISSA_MAX = 4503599627370495.0;  // 2^52 - 1

// Exponent ordering: `sorted` maps an exponent position to a biased
// exponent, `inverse` the other way. Built once, on first use.
struct ExponentOrder {
    std::array<uint16_t, 2048> sorted;
    std::array<uint16_t, 2048> inverse;
};

double exponent_key(unsigned e) {
    if (e == 2047) return INFINITY;
    if (e >= 1023) return static_cast<double>(e) - 1023.0;
    return 11023.0 - static_cast<double>(e);
}

const ExponentOrder& order() {
    // Built under the interpreter lock by pure code: no other thread can be
    // inside this initialiser at the same time, and the guard of the local
    // static makes any that could wait.
    static const ExponentOrder table = [] {
        ExponentOrder t{};
        for (unsigned e = 0; e < 2048; ++e) t.sorted[e] = static_cast<uint16_t>(e);
        std::stable_sort(t.sorted.begin(), t.sorted.end(), [](uint16_t a, uint16_t b) {
            return exponent_key(a) < exponent_key(b);
        });
        for (unsigned i = 0; i < 2048; ++i) t.inverse[t.sorted[i]] = static_cast<uint16_t>(i);
        return t;
    }();
    return table;
}

uint64_t reverse_bits(uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555ULL) | ((v & 0x5555555555555555ULL) << 1);
    v = ((v >> 2) & 0x3333333333333333ULL) | ((v & 0x3333333333333333ULL) << 2);
    v = ((v >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((v & 0x0F0F0F0F0F0F0F0FULL) << 4);
    return __builtin_bswap64(v);
}

// Puts the fractional bits of the mantissa in reverse order, so that values
// with fewer fractional bits sort first. Its own inverse.
uint64_t transform_mantissa(unsigned biased_exponent, uint64_t m) {
    int u = static_cast<int>(biased_exponent) - 1023;
    if (u <= 0) return reverse_bits(m) >> 12;
    if (u >= 52) return m;
    unsigned k = 52 - static_cast<unsigned>(u);  // fractional bits
    uint64_t low_mask = (uint64_t{1} << k) - 1;
    return (m & ~low_mask) | (reverse_bits(m & low_mask) >> (64 - k));
}

bool both_zero(double a, double b) { return a == 0.0 && b == 0.0; }

// The bounds part of the permission test (NaN f excluded by the callers).
bool within(double f, double min_value, double max_value, double smallest) {
    if (f != 0.0 && std::fabs(f) < smallest) return false;
    if (both_zero(f, min_value)) {
        if (!std::signbit(min_value) && std::signbit(f)) return false;
    } else if (!(min_value <= f)) {
        return false;
    }
    if (both_zero(f, max_value)) {
        if (!std::signbit(f) && std::signbit(max_value)) return false;
    } else if (!(f <= max_value)) {
        return false;
    }
    return true;
}

// A binary interchange format narrower than double.
struct Format {
    int mantissa_bits;
    int min_exponent;  // exponent of the smallest normal
    double max_finite;
    double min_subnormal;
};
constexpr Format SINGLE{23, -126, 3.4028234663852886e38, 1.401298464324817e-45};
constexpr Format HALF{10, -14, 65504.0, 5.960464477539063e-08};

// The spacing of the format's values at |a| (a finite, non-zero).
double quantum(const Format& fmt, double a) {
    int e = std::ilogb(a);
    return std::ldexp(1.0, std::max(e, fmt.min_exponent) - fmt.mantissa_bits);
}

// x rounded to nearest-even in the format; past the range, infinity.
double round_to(const Format& fmt, double x) {
    if (x == 0.0 || !std::isfinite(x)) return x;
    double a = std::fabs(x);
    double q = quantum(fmt, a);
    double r = std::nearbyint(a / q) * q;
    if (r > fmt.max_finite) r = INFINITY;
    return std::copysign(r, x);
}

// The next value of the format above y (y a value of the format, not NaN
// and not +infinity).
double step_up(const Format& fmt, double y) {
    if (y == -INFINITY) return -fmt.max_finite;
    if (y == 0.0) return fmt.min_subnormal;
    if (y > 0.0) {
        double r = y + quantum(fmt, y);
        return r > fmt.max_finite ? INFINITY : r;
    }
    double a = -y;
    double q = quantum(fmt, a);
    // Below a power of two the spacing halves (down to the subnormals).
    if (std::ilogb(a) > fmt.min_exponent && a == std::ldexp(1.0, std::ilogb(a))) q /= 2.0;
    return -(a - q);
}

}  // namespace

uint64_t float_to_lex(double f) {
    double a = std::fabs(f);
    if (std::isfinite(a) && a == std::trunc(a) && a < TWO_56) return static_cast<uint64_t>(a);
    uint64_t bits = std::bit_cast<uint64_t>(a);
    unsigned e = static_cast<unsigned>(bits >> 52) & 2047;
    uint64_t m = bits & MANTISSA_MASK;
    return EXPONENT_FORM | (uint64_t{order().inverse[e]} << 52) | transform_mantissa(e, m);
}

double lex_to_float_rs(uint64_t i) {
    if (!(i & EXPONENT_FORM)) return static_cast<double>(i & INTEGER_FORM_MASK);
    unsigned e = order().sorted[(i >> 52) & 2047];
    uint64_t m = i & MANTISSA_MASK;
    return std::bit_cast<double>((uint64_t{e} << 52) | transform_mantissa(e, m));
}

bool is_simple(double f) {
    if (!(f == std::trunc(f))) return false;
    if (!std::isfinite(f)) return false;
    return std::fabs(f) < TWO_56;
}

bool permitted_float(bool allow_nan, double f, double min_value, double max_value,
                     double smallest) {
    if (std::isnan(f)) return allow_nan;
    return within(f, min_value, max_value, smallest);
}

double float_clamp(bool allow_nan, double f, double min_value, double max_value,
                   double smallest) {
    if (std::isnan(f)) {
        if (allow_nan) return f;
    } else if (within(f, min_value, max_value, smallest)) {
        return f;
    }
    double r = static_cast<double>(std::bit_cast<uint64_t>(f) & MANTISSA_MASK) / MANTISSA_MAX;
    double span = max_value - min_value;
    if (std::isnan(span) || span > DBL_MAX) span = DBL_MAX;
    double v = min_value + span * r;
    if (v != 0.0 && !std::isnan(v) && std::fabs(v) < smallest) {
        v = smallest > max_value ? -smallest : smallest;
    }
    if (both_zero(min_value, v)) {
        if (!std::signbit(min_value) && std::signbit(v)) return min_value;
    } else if (!(min_value <= v)) {
        return min_value;
    }
    if (both_zero(max_value, v)) {
        return (!std::signbit(v) && std::signbit(max_value)) ? max_value : v;
    }
    return !(v <= max_value) ? max_value : v;
}

double round_to_width(uint32_t width, double x) {
    if (width == 32) return round_to(SINGLE, x);
    if (width == 16) return round_to(HALF, x);
    return x;
}

double next_up(double x) {
    if (std::isnan(x) || x == INFINITY) return x;
    int64_t n = std::bit_cast<int64_t>(x);
    if (n == INT64_MIN) return 0.0;  // -0.0
    return std::bit_cast<double>(n >= 0 ? n + 1 : n - 1);
}

double next_up_width(uint32_t width, double x) {
    if (width != 16 && width != 32) {
        if (std::isnan(x) || x == INFINITY) return x;
        double y = x;
        do {
            y = next_up(y);
        } while (!(y > x) && std::isfinite(y));
        return y;
    }
    const Format& fmt = width == 32 ? SINGLE : HALF;
    double y = std::isfinite(x) ? round_to(fmt, x) : x;
    for (;;) {
        if (std::isnan(y) || y == INFINITY) return y;
        y = step_up(fmt, y);
        if (y > x || !std::isfinite(y)) return y;
    }
}

}  // namespace floats
