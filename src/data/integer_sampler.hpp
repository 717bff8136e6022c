// The part of an integer draw that depends on its bounds alone, for a
// strategy node to make once and hand to every draw of the record.
#pragma once

#include <optional>

#include <gmpxx.h>

#include "provider.hpp"

namespace data {

using IntegerSampler = provider::IntegerSampler;

// The sampler of bounds given as optional big integers (absent: unbounded).
inline IntegerSampler integer_sampler(const std::optional<mpz_class>& min, const std::optional<mpz_class>& max) {
    std::optional<provider::Integer> lo, hi;
    if (min) lo = provider::Integer::of(*min);
    if (max) hi = provider::Integer::of(*max);
    return provider::integer_sampler(lo ? &*lo : nullptr, hi ? &*hi : nullptr);
}

}  // namespace data
