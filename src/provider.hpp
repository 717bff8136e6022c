// The random draws behind integer choices and collection sizes. Each takes the
// record's generator and consumes its outputs in a fixed order, so equal seeds
// give equal values. No Python here.
#pragma once

#include <cstdint>
#include <optional>

#include <gmpxx.h>

#include "rng/rng.hpp"

namespace provider {

// An exact integer held without GMP when it can be: a 64-bit value, an
// integral double of magnitude at least 2^63 (what the distribution yields for
// large draws), or a big integer.
struct Integer {
    enum class Kind : uint8_t { small, wide, big };
    Kind kind = Kind::small;
    int64_t small = 0;
    double wide = 0.0;
    mpz_class big;  // Kind::big only

    Integer() = default;
    // Copies touch the big integer only when it is in use, so that copying a
    // 64-bit value never allocates.
    Integer(const Integer& o) : kind(o.kind), small(o.small), wide(o.wide) {
        if (kind == Kind::big) big = o.big;
    }
    Integer& operator=(const Integer& o) {
        kind = o.kind;
        small = o.small;
        wide = o.wide;
        if (kind == Kind::big) big = o.big;
        return *this;
    }
    Integer(Integer&&) noexcept = default;
    Integer& operator=(Integer&&) noexcept = default;

    static Integer of(int64_t v);
    // Small when the value fits in 64 bits.
    static Integer of(const mpz_class& v);
    // v must be integral and finite; small when it fits in 64 bits.
    static Integer of_integral(double v);

    mpz_class to_mpz() const;
    // Correctly rounded (ties to even); infinite from 2^1024 on.
    double to_double() const;
};

// An integer drawn from the process-wide size distribution (centred on 0),
// kept inside [min, max]; an absent bound (nullptr) becomes max(2^128, 2|other|)
// or 2^128 on that side. Bounds where the distribution has next to no mass, or
// that do not fit in a double, draw uniformly instead. With min > max the
// result is min. Never fails.
void draw_integer_from_distribution(rng::Rng& rng, const Integer* min, const Integer* max,
                                    Integer& out);

// What such a draw derives from its bounds alone, made once for bounds that
// many draws share.
struct IntegerSampler {
    bool has_min = false, has_max = false;
    Integer min, max;      // the bounds as given (meaningful when present)
    Integer lower, upper;  // the effective bounds
    bool by_distribution = false;  // else uniform
    double c0 = 0.0, w = 0.0;      // the distribution's mass below and within
};
IntegerSampler integer_sampler(const Integer* min, const Integer* max);
// The same draw as draw_integer_from_distribution with the sampler's bounds.
void draw_integer(rng::Rng& rng, const IntegerSampler& s, Integer& out);
mpz_class draw_integer_from_distribution(rng::Rng& rng, const std::optional<mpz_class>& min,
                                         const std::optional<mpz_class>& max);

// A collection length in [min_size, max_size]: min_size plus a run of
// continuations taken with one probability chosen so that the expected extra
// length is about max(min_size, 5), capped at half the range. With
// min_size >= max_size the result is min_size and nothing is drawn.
uint64_t draw_collection_size(rng::Rng& rng, uint64_t min_size, uint64_t max_size);

}  // namespace provider
