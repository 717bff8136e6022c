// Floats in their shrink order: the lexicographic encoding of magnitudes as
// unsigned 64-bit positions, the permission test and clamping of a float
// against its constraints, and the step to the next float of a width.
//
// Order of magnitudes by position: the integers 0 .. 2^56 - 1 first (their
// position is their value), then, in exponent form, [1, 2), [2, 4), .. up to
// the largest finite doubles, then [0.5, 1), [0.25, 0.5), .. down to the
// subnormals, then +infinity and the NaNs. Within one exponent a value with
// fewer fractional bits comes first.
#pragma once

#include <cstdint>

namespace floats {

// Lex position of |f| (the sign is ignored; NaN payloads are kept).
uint64_t float_to_lex(double f);
// The non-negative double at lex position i (bits 56 .. 62 of an integer-form
// position are ignored; such positions above 2^53 round to nearest-even).
double lex_to_float_rs(uint64_t i);
// f is integral, finite and |f| < 2^56.
bool is_simple(double f);

// f satisfies the float constraints: NaN only when allowed, no non-zero
// magnitude below `smallest`, bounds inclusive with -0.0 below +0.0.
bool permitted_float(bool allow_nan, double f, double min_value, double max_value,
                     double smallest);
// f when permitted (or a NaN that is allowed), else a value of the range
// picked from f's mantissa bits.
double float_clamp(bool allow_nan, double f, double min_value, double max_value,
                   double smallest);

// The least value of the width (16, 32 or 64; any other width counts as 64)
// strictly above x, as a double. x is first rounded to the width; +infinity
// and NaN come back unchanged and values past the width's range give
// +infinity.
double next_up_width(uint32_t width, double x);
// Guards against swapped arguments, which would otherwise convert silently.
double next_up_width(double x, uint32_t width) = delete;

// x rounded to nearest-even at the width (16 or 32; any other width gives x
// back) and widened again; values past the width's range give an infinity
// of x's sign. NaN and infinities come back unchanged.
double round_to_width(uint32_t width, double x);

// The largest finite value of the width (16, 32 or 64; any other width
// counts as 64).
constexpr double max_finite(uint32_t width) {
    return width == 16 ? 65504.0 : width == 32 ? 3.4028234663852886e38 : 1.7976931348623157e308;
}

// The double stepped once towards +infinity through its bit pattern (-0.0
// steps to +0.0); NaN and +infinity are returned unchanged.
double next_up(double x);

}  // namespace floats
