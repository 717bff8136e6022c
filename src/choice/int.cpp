#include "choice/int.hpp"

namespace choice {

namespace {
constexpr i128 I64_MIN = INT64_MIN;
constexpr i128 I64_MAX = INT64_MAX;
constexpr i128 U64_MAX = UINT64_MAX;

unsigned __int128 magnitude(i128 v) {
    return v < 0 ? static_cast<unsigned __int128>(0) - static_cast<unsigned __int128>(v)
                 : static_cast<unsigned __int128>(v);
}
}  // namespace

void set_mpz(mpz_class& out, i128 v) {
    unsigned __int128 m = magnitude(v);
    uint64_t words[2] = {static_cast<uint64_t>(m), static_cast<uint64_t>(m >> 64)};
    mpz_import(out.get_mpz_t(), 2, -1, sizeof(uint64_t), 0, 0, words);
    if (v < 0) mpz_neg(out.get_mpz_t(), out.get_mpz_t());
}

bool get_i128(const mpz_class& v, i128& out) {
    if (mpz_sizeinbase(v.get_mpz_t(), 2) > 127) return false;
    uint64_t words[2] = {0, 0};
    size_t count = 0;
    mpz_export(words, &count, -1, sizeof(uint64_t), 0, 0, v.get_mpz_t());
    unsigned __int128 m = (static_cast<unsigned __int128>(words[1]) << 64) | words[0];
    out = static_cast<i128>(m);
    if (mpz_sgn(v.get_mpz_t()) < 0) out = -out;
    return true;
}

void Int::set_mpz_min(mpz_class& out) {
    mpz_set_ui(out.get_mpz_t(), 1);
    mpz_mul_2exp(out.get_mpz_t(), out.get_mpz_t(), 127);
    mpz_neg(out.get_mpz_t(), out.get_mpz_t());
}

Int Int::of(const mpz_class& v) {
    Int r;
    if (!get_i128(v, r.s_)) r.big_ = v;
    return r;
}

Int Int::from_py(PyObject* o) {
    py::Ref owned;
    o = py::index_of(o, owned);
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (!overflow) {
        if (v == -1 && PyErr_Occurred()) throw py::Err{};
        return Int(static_cast<int64_t>(v));
    }
    if (overflow > 0) {
        unsigned long long u = PyLong_AsUnsignedLongLong(o);
        if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
            return of(static_cast<i128>(u));
        }
        py::drop_exception();
    }
    return of(py::to_mpz(o));
}

py::Ref Int::to_py() const {
    if (big_) return py::from_mpz(*big_);
    if (s_ >= I64_MIN && s_ <= I64_MAX) return py::from_i64(static_cast<int64_t>(s_));
    if (s_ > 0 && s_ <= U64_MAX) return py::from_u64(static_cast<uint64_t>(s_));
    // Between 64 and 128 bits: assemble from two words without GMP.
    unsigned __int128 m = magnitude(s_);
    py::Ref high = py::from_u64(static_cast<uint64_t>(m >> 64));
    py::Ref low = py::from_u64(static_cast<uint64_t>(m));
    py::Ref shift = py::from_i64(64);
    py::Ref shifted = py::check(PyNumber_Lshift(high.get(), shift.get()));
    py::Ref r = py::check(PyNumber_Or(shifted.get(), low.get()));
    if (s_ < 0) r = py::check(PyNumber_Negative(r.get()));
    return r;
}

mpz_class Int::to_mpz() const {
    if (big_) return *big_;
    mpz_class r;
    if (s_ >= LONG_MIN && s_ <= LONG_MAX) {
        r = static_cast<long>(s_);
    } else {
        set_mpz(r, s_);
    }
    return r;
}

int Int::sign() const noexcept {
    if (big_) return mpz_sgn(big_->get_mpz_t());
    return s_ < 0 ? -1 : s_ > 0 ? 1 : 0;
}

bool Int::get_i64(int64_t& out) const noexcept {
    if (big_ || s_ < I64_MIN || s_ > I64_MAX) return false;
    out = static_cast<int64_t>(s_);
    return true;
}

bool Int::get_u64(uint64_t& out) const noexcept {
    if (big_ || s_ < 0 || s_ > U64_MAX) return false;
    out = static_cast<uint64_t>(s_);
    return true;
}

uint64_t Int::bit_length() const {
    if (big_) return mpz_sizeinbase(big_->get_mpz_t(), 2);  // never 0: big values are large
    unsigned __int128 m = magnitude(s_);
    uint64_t n = 0;
    while (m) {
        ++n;
        m >>= 1;
    }
    return n;
}

int Int::cmp(const Int& a, const Int& b) noexcept {
    if (!a.big_ && !b.big_) return a.s_ < b.s_ ? -1 : a.s_ > b.s_ ? 1 : 0;
    // A big value lies outside the small range, so its sign decides against
    // a small one.
    if (!a.big_) return -mpz_sgn(b.big_->get_mpz_t());
    if (!b.big_) return mpz_sgn(a.big_->get_mpz_t());
    int c = mpz_cmp(a.big_->get_mpz_t(), b.big_->get_mpz_t());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

Int operator+(const Int& a, const Int& b) {
    i128 r;
    if (!a.big_ && !b.big_ && !__builtin_add_overflow(a.s_, b.s_, &r)) return Int::of(r);
    return Int::of(mpz_class(a.to_mpz() + b.to_mpz()));
}

Int operator-(const Int& a, const Int& b) {
    i128 r;
    if (!a.big_ && !b.big_ && !__builtin_sub_overflow(a.s_, b.s_, &r)) return Int::of(r);
    return Int::of(mpz_class(a.to_mpz() - b.to_mpz()));
}

Int Int::half() const {
    if (!big_) return of(s_ >> 1);  // arithmetic shift: floor
    mpz_class r;
    mpz_fdiv_q_2exp(r.get_mpz_t(), big_->get_mpz_t(), 1);
    return of(r);
}

}  // namespace choice
