#include "provider.hpp"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>

#include "statistics.hpp"

namespace provider {

namespace {

constexpr double TWO_63 = 0x1p63;
constexpr double TWO_128 = 0x1p128;

bool fits_i64(const mpz_class& v) { return mpz_fits_slong_p(v.get_mpz_t()) != 0; }

// Sign of x - b for an integral double x.
int compare(double x, const Integer& b) {
    switch (b.kind) {
    case Integer::Kind::small: {
        if (x >= TWO_63) return 1;
        if (x < -TWO_63) return -1;
        const auto xi = static_cast<int64_t>(x);
        return (xi > b.small) - (xi < b.small);
    }
    case Integer::Kind::wide:
        return (x > b.wide) - (x < b.wide);
    case Integer::Kind::big:
        break;
    }
    const int c = mpz_cmp_d(b.big.get_mpz_t(), x);  // sign of b - x
    return (c < 0) - (c > 0);
}

// Uniform over [lower, upper] (lower when the range is empty): draw the bit
// length of the span in 64-bit words, first word most significant, mask and
// reject until the value fits.
void draw_uniform(rng::Rng& rng, const Integer& lower, const Integer& upper, Integer& out) {
    if (lower.kind == Integer::Kind::small && upper.kind == Integer::Kind::small) {
        const __int128 diff = static_cast<__int128>(upper.small) - lower.small;
        if (diff <= 0) {
            out = lower;
            return;
        }
        const auto span = static_cast<uint64_t>(diff);
        const int k = 64 - std::countl_zero(span);
        const uint64_t mask = k == 64 ? ~uint64_t{0} : (uint64_t{1} << k) - 1;
        uint64_t v;
        do {
            v = rng.next_u64() & mask;
        } while (v > span);
        out = Integer::of(static_cast<int64_t>(static_cast<uint64_t>(lower.small) + v));
        return;
    }
    const mpz_class lo = lower.to_mpz();
    const mpz_class span = upper.to_mpz() - lo;
    if (sgn(span) <= 0) {
        out = Integer::of(lo);
        return;
    }
    const size_t k = mpz_sizeinbase(span.get_mpz_t(), 2);
    const size_t words = std::max<size_t>(1, (k + 63) / 64);
    mpz_class v, word;
    for (;;) {
        v = 0;
        for (size_t i = 0; i < words; ++i) {
            const uint64_t w = rng.next_u64();
            mpz_mul_2exp(v.get_mpz_t(), v.get_mpz_t(), 64);
            mpz_import(word.get_mpz_t(), 1, -1, sizeof w, 0, 0, &w);
            v += word;
        }
        // v AND (2^k - 1)
        mpz_fdiv_r_2exp(v.get_mpz_t(), v.get_mpz_t(), k);
        if (v <= span) break;
    }
    out = Integer::of(mpz_class(lo + v));
}

}  // namespace

Integer Integer::of(int64_t v) {
    Integer r;
    r.kind = Kind::small;
    r.small = v;
    return r;
}

Integer Integer::of(const mpz_class& v) {
    if (fits_i64(v)) return of(static_cast<int64_t>(mpz_get_si(v.get_mpz_t())));
    Integer r;
    r.kind = Kind::big;
    r.big = v;
    return r;
}

Integer Integer::of_integral(double v) {
    if (v >= -TWO_63 && v < TWO_63) return of(static_cast<int64_t>(v));
    Integer r;
    r.kind = Kind::wide;
    r.wide = v;
    return r;
}

mpz_class Integer::to_mpz() const {
    switch (kind) {
    case Kind::small: {
        mpz_class r;
        mpz_set_si(r.get_mpz_t(), small);
        return r;
    }
    case Kind::wide:
        return mpz_class(wide);  // exact: wide is integral
    case Kind::big:
        break;
    }
    return big;
}

double Integer::to_double() const {
    switch (kind) {
    case Kind::small:
        return static_cast<double>(small);
    case Kind::wide:
        return wide;
    case Kind::big:
        break;
    }
    // Keep the top 63 bits, fold every lower bit into a sticky bit 0 (below
    // the rounding point), convert once and scale: one correct rounding.
    mpz_class mag = abs(big);
    const size_t bits = mpz_sizeinbase(mag.get_mpz_t(), 2);
    if (bits <= 63) return static_cast<double>(mpz_get_si(big.get_mpz_t()));
    const size_t shift = bits - 63;
    const bool sticky = mpz_scan1(mag.get_mpz_t(), 0) < shift;
    mpz_fdiv_q_2exp(mag.get_mpz_t(), mag.get_mpz_t(), shift);
    const auto top = static_cast<int64_t>(mpz_get_ui(mag.get_mpz_t()) | (sticky ? 1u : 0u));
    const double d = std::ldexp(static_cast<double>(top), static_cast<int>(std::min<size_t>(shift, 2048)));
    return sgn(big) < 0 ? -d : d;
}

IntegerSampler integer_sampler(const Integer* min, const Integer* max) {
    IntegerSampler s;
    s.has_min = min != nullptr;
    s.has_max = max != nullptr;
    if (min) s.min = *min;
    if (max) s.max = *max;
    // Effective bounds.
    auto far_side = [](const Integer& other) {
        // max(2^128, 2|other|); a 64-bit value is always under 2^127.
        if (other.kind == Integer::Kind::small) return Integer::of_integral(TWO_128);
        mpz_class twice = abs(other.to_mpz()) * 2;
        if (twice <= mpz_class(TWO_128)) return Integer::of_integral(TWO_128);
        return Integer::of(twice);
    };
    Integer& lower = s.lower;
    Integer& upper = s.upper;
    if (min && max) {
        lower = *min;
        upper = *max;
    } else if (min) {
        lower = *min;
        upper = far_side(*min);
    } else if (max) {
        upper = *max;
        lower = far_side(*max);
        if (lower.kind == Integer::Kind::big) lower.big = -lower.big;
        else lower.wide = -lower.wide;
    } else {
        lower = Integer::of_integral(-TWO_128);
        upper = Integer::of_integral(TWO_128);
    }

    const statistics::Piecewise& d = statistics::integers_distribution();
    const double a = lower.to_double();
    const double b = upper.to_double();
    if (std::isfinite(a) && std::isfinite(b)) {
        s.c0 = d.cdf(a - 0.5);
        s.w = d.cdf(b + 0.5) - s.c0;
        s.by_distribution = !(s.w < 1e-13);
    }
    return s;
}

void draw_integer(rng::Rng& rng, const IntegerSampler& s, Integer& out) {
    if (s.by_distribution) {
        const statistics::Piecewise& d = statistics::integers_distribution();
        double u;
        do {
            const double r = static_cast<double>(rng.next_u64() >> 11) * 0x1p-53;
            u = s.c0 + s.w * r;
        } while (u == 0.0 || u == 1.0);
        const double x = std::round(d.inverse_cdf(u));
        if (std::isfinite(x)) {
            if (compare(x, s.lower) < 0) out = s.lower;
            else if (compare(x, s.upper) > 0) out = s.upper;
            else out = Integer::of_integral(x);
            return;
        }
    }
    draw_uniform(rng, s.lower, s.upper, out);
}

void draw_integer_from_distribution(rng::Rng& rng, const Integer* min, const Integer* max,
                                    Integer& out) {
    draw_integer(rng, integer_sampler(min, max), out);
}

mpz_class draw_integer_from_distribution(rng::Rng& rng, const std::optional<mpz_class>& min,
                                         const std::optional<mpz_class>& max) {
    std::optional<Integer> lo, hi;
    if (min) lo = Integer::of(*min);
    if (max) hi = Integer::of(*max);
    Integer out;
    draw_integer_from_distribution(rng, lo ? &*lo : nullptr, hi ? &*hi : nullptr, out);
    return out.to_mpz();
}

namespace {

// Expected number of continuations with probability p when at most `span`
// are allowed.
double expected_run(double p, double span) {
    if (p >= 1.0) return span;
    return (1.0 - std::pow(p, span)) * (1.0 / (1.0 - p) - 1.0);
}

double continuation_probability(uint64_t min_size, uint64_t max_size) {
    const double m = static_cast<double>(min_size);
    const double avg =
        std::min(std::max(2.0 * m, m + 5.0), (m + static_cast<double>(max_size)) / 2.0) - m;
    const double span = static_cast<double>(max_size - min_size);
    if (avg >= span) return 1.0;
    double p = 1.0 - 1.0 / (avg + 1.0);
    if (p == 0.0) return p;
    while (expected_run(p, span) > avg) {
        p = p - 0.0001;
        if (p < DBL_MIN) return DBL_MIN;
    }
    // Raise p while the expectation stays at or below avg. For very large
    // targets neighbouring doubles of p differ by more than 0.01 in E, so the
    // search also ends once the midpoint no longer moves.
    double hi = 1.0;
    while (avg - expected_run(p, span) > 0.01) {
        const double mid = (hi + p) / 2.0;
        if (mid == p || mid == hi) break;
        if (expected_run(mid, span) <= avg) p = mid;
        else hi = mid;
    }
    return p;
}

}  // namespace

uint64_t draw_collection_size(rng::Rng& rng, uint64_t min_size, uint64_t max_size) {
    if (max_size == min_size) return min_size;
    const double p = continuation_probability(min_size, max_size);
    // The first min_size elements cost nothing; each test beyond them costs
    // one double, the failing one included; reaching max_size costs none.
    uint64_t size = min_size;
    while (size < max_size) {
        if (!(rng.next_f64() < p)) break;
        ++size;
    }
    return size;
}

}  // namespace provider
