// An arbitrary-precision integer that stays a native 128-bit value while it
// fits, so that the indices and values of everyday choices (every 64-bit
// integer, every float index) never touch GMP.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>

#include "py/py.hpp"

namespace choice {

using i128 = __int128;

class Int {
public:
    Int() noexcept = default;
    Int(int64_t v) noexcept : s_(v) {}  // NOLINT: implicit by design
    static Int of(i128 v) {
        Int r;
        if (v == MIN_I128) {
            r.big_.emplace();
            set_mpz_min(*r.big_);
        } else {
            r.s_ = v;
        }
        return r;
    }
    // Normalised: a value that fits 128 bits is kept small.
    static Int of(const mpz_class& v);
    // A Python int (or an object with __index__); throws py::Err.
    static Int from_py(PyObject* o);

    py::Ref to_py() const;
    mpz_class to_mpz() const;

    bool is_small() const noexcept { return !big_; }
    i128 small() const noexcept { return s_; }  // only when is_small()
    const mpz_class& big() const noexcept { return *big_; }  // only when !is_small()

    int sign() const noexcept;
    bool is_zero() const noexcept { return !big_ && s_ == 0; }
    // The value as int64 / uint64 when it fits.
    bool get_i64(int64_t& out) const noexcept;
    bool get_u64(uint64_t& out) const noexcept;
    // Number of bits of |value| (0 for 0).
    uint64_t bit_length() const;

    friend bool operator==(const Int& a, const Int& b) noexcept { return cmp(a, b) == 0; }
    friend std::strong_ordering operator<=>(const Int& a, const Int& b) noexcept {
        int c = cmp(a, b);
        return c < 0 ? std::strong_ordering::less
                     : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
    }
    friend Int operator+(const Int& a, const Int& b);
    friend Int operator-(const Int& a, const Int& b);
    // floor(value / 2): with lo + (hi - lo).half() a binary search needs no
    // other arithmetic.
    Int half() const;

private:
    // The small range is symmetric: -2^127 itself is held big.
    static constexpr i128 MIN_I128 = static_cast<i128>(static_cast<unsigned __int128>(1) << 127);
    static void set_mpz_min(mpz_class& out);
    static int cmp(const Int& a, const Int& b) noexcept;
    i128 s_ = 0;
    std::optional<mpz_class> big_;  // set only when the value needs more than 128 bits
};

// 128-bit <-> GMP.
void set_mpz(mpz_class& out, i128 v);
// True and sets out when v fits 128 bits.
bool get_i128(const mpz_class& v, i128& out);

}  // namespace choice
