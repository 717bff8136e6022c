// Orders and indices of bytes and strings: collections over an alphabet of
// size a, shorter first, equal lengths as numbers in base a.
#include <climits>
#include <cmath>

#include "choice/choice.hpp"
#include "intervalset/intervalset.hpp"

namespace choice {

static_assert(sizeof(unsigned long) == sizeof(uint64_t), "GMP's ulong must hold 64 bits");

namespace {

using u128 = unsigned __int128;

// Indices whose computation would need a number of more bits than this are
// refused instead of exhausting memory (only an absurd min_size, far above
// the value's own length, can ask for one).
constexpr uint64_t MAX_INDEX_BITS = uint64_t{1} << 26;

uint64_t bits_of(uint64_t a) { return a == 0 ? 0 : 64 - static_cast<uint64_t>(__builtin_clzll(a)); }

// The native path holds every intermediate when a^n < 2^120.
bool fits_native(uint64_t n, uint64_t a) {
    uint64_t b = bits_of(a);
    return b == 0 || n <= 120 / b;
}

// S(n, a): the number of sequences shorter than n (native; fits_native).
i128 size_to_index_native(uint64_t n, uint64_t a) {
    if (a == 0) return 0;
    if (a == 1) return static_cast<i128>(n);
    i128 s = 0;
    for (uint64_t k = 0; k < n; ++k) s = s * static_cast<i128>(a) + 1;
    return s;
}

mpz_class size_to_index_mpz(uint64_t n, uint64_t a) {
    mpz_class r;
    if (a == 0) return r;
    if (a == 1) {
        mpz_set_ui(r.get_mpz_t(), n);
        return r;
    }
    mpz_ui_pow_ui(r.get_mpz_t(), a, n);
    r -= 1;
    mpz_divexact_ui(r.get_mpz_t(), r.get_mpz_t(), a - 1);
    return r;
}

void check_index_size(uint64_t length, uint64_t min_size, uint64_t a) {
    if (min_size <= length || a < 2) return;
    uint64_t b = bits_of(a);
    if (min_size > MAX_INDEX_BITS / b) {
        py::raise_overflow_error("the index of a value of length " + std::to_string(length) +
                                 " under min_size=" + std::to_string(min_size) +
                                 " is too large to compute");
    }
}

// Digits of x (0 <= x < a^size) in base a, most significant first.
void digits_native(i128 x, uint64_t size, uint64_t a, std::vector<uint64_t>& orders) {
    orders.assign(size, 0);
    u128 v = static_cast<u128>(x);
    for (uint64_t k = size; k-- > 0 && v != 0;) {
        orders[k] = static_cast<uint64_t>(v % a);
        v /= a;
    }
}

void digits_mpz(mpz_class& x, uint64_t size, uint64_t a, std::vector<uint64_t>& orders) {
    orders.assign(size, 0);
    if (a == 256) {
        std::vector<uint8_t> buf(size);
        size_t count = 0;
        mpz_export(buf.data(), &count, 1, 1, 1, 0, x.get_mpz_t());
        // Right-align the exported bytes (leading zero digits are omitted).
        for (size_t k = 0; k < count; ++k) orders[size - count + k] = buf[k];
        return;
    }
    for (uint64_t k = size; k-- > 0 && mpz_sgn(x.get_mpz_t()) != 0;) {
        orders[k] = mpz_fdiv_q_ui(x.get_mpz_t(), x.get_mpz_t(), a);
    }
}

// floor(log_a(y)) for y >= a >= 2, or MAX_COLLECTION_SIZE + 1 when it is
// at least that.
uint64_t log_floor_mpz(const mpz_class& y, uint64_t a) {
    uint64_t bits = mpz_sizeinbase(y.get_mpz_t(), 2);
    uint64_t limit = MAX_COLLECTION_SIZE + 1;
    if (bits - 1 >= limit * bits_of(a)) return limit;  // y >= 2^(bits-1) >= a^limit
    auto k = static_cast<uint64_t>(static_cast<double>(bits - 1) / std::log2(static_cast<double>(a)));
    mpz_class p;
    mpz_ui_pow_ui(p.get_mpz_t(), a, k);
    while (k > 0 && p > y) {
        mpz_divexact_ui(p.get_mpz_t(), p.get_mpz_t(), a);
        --k;
    }
    for (;;) {
        mpz_class next = p * a;
        if (next > y) break;
        p = next;
        ++k;
    }
    return k;
}

// Horner's rule over the element orders, natively (the caller has checked
// that the value fits).
template <class Orders>
i128 horner_native(const Orders& orders, uint64_t a) {
    i128 acc = 0;
    for (auto o : orders) acc = acc * static_cast<i128>(a) + static_cast<i128>(o);
    return acc;
}

template <class Orders>
mpz_class horner_mpz(const Orders& orders, uint64_t a) {
    mpz_class acc;
    for (auto o : orders) {
        mpz_mul_ui(acc.get_mpz_t(), acc.get_mpz_t(), a);
        mpz_add_ui(acc.get_mpz_t(), acc.get_mpz_t(), static_cast<unsigned long>(o));
    }
    return acc;
}

template <class Orders>
Int index_from_orders(const Orders& orders, uint64_t length, uint64_t min_size, uint64_t a) {
    check_index_size(length, min_size, a);
    if (fits_native(length, a) && fits_native(min_size, a)) {
        return Int::of(size_to_index_native(length, a) - size_to_index_native(min_size, a) +
                       horner_native(orders, a));
    }
    mpz_class r = size_to_index_mpz(length, a) - size_to_index_mpz(min_size, a);
    r += horner_mpz(orders, a);
    return Int::of(r);
}

// Decodes valid UTF-8 (from a Python str) into code points.
template <class F>
void for_each_codepoint(std::string_view s, F&& f) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        uint32_t c = *p++;
        if (c >= 0xF0) {
            c = ((c & 0x07) << 18) | ((p[0] & 0x3Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            p += 3;
        } else if (c >= 0xE0) {
            c = ((c & 0x0F) << 12) | ((p[0] & 0x3Fu) << 6) | (p[1] & 0x3Fu);
            p += 2;
        } else if (c >= 0xC0) {
            c = ((c & 0x1F) << 6) | (p[0] & 0x3Fu);
            p += 1;
        }
        f(static_cast<int64_t>(c));
    }
}

uint64_t count_codepoints(std::string_view s) {
    uint64_t n = 0;
    for (char ch : s) n += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    return n;
}

void append_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool is_scalar_value(int64_t c) { return c >= 0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

}  // namespace

[[noreturn]] void raise_choice_too_large() {
    py::raise_named_noargs("quorvantis_fast.errors", "ChoiceTooLarge");
}

Int size_to_index(uint64_t n, uint64_t a) {
    if (fits_native(n, a)) return Int::of(size_to_index_native(n, a));
    if (a >= 2 && n > MAX_INDEX_BITS / bits_of(a)) {
        py::raise_overflow_error("the number of sequences shorter than " + std::to_string(n) +
                                 " is too large to compute");
    }
    return Int::of(size_to_index_mpz(n, a));
}

Int collection_index_from_orders(std::span<const uint64_t> orders, uint64_t min_size, uint64_t a) {
    return index_from_orders(orders, orders.size(), min_size, a);
}

std::vector<uint64_t> collection_value_to_orders(const Int& index, uint64_t min_size, uint64_t a) {
    std::vector<uint64_t> orders;
    if (a == 0) return orders;
    if (a == 1) {
        Int x = index + Int::of(static_cast<i128>(min_size));
        uint64_t size;
        if (!x.get_u64(size) || size > MAX_COLLECTION_SIZE) raise_choice_too_large();
        orders.assign(size, 0);
        return orders;
    }
    // A huge min_size makes every non-negative index too large; a negative
    // index can only pull the size down by its own number of bits.
    if (min_size > MAX_COLLECTION_SIZE) {
        if (index.sign() >= 0) raise_choice_too_large();
        if (min_size > MAX_COLLECTION_SIZE + 1 && min_size - 1 >= index.bit_length()) {
            raise_choice_too_large();
        }
    }
    constexpr i128 SAFE = static_cast<i128>(1) << 100;
    if (index.is_small() && index.small() > -SAFE && index.small() < SAFE &&
        fits_native(min_size, a)) {
        i128 x = index.small() + size_to_index_native(min_size, a);
        i128 y;
        if (!__builtin_mul_overflow(x, static_cast<i128>(a - 1), &y) && y < (SAFE << 20)) {
            y += 1;
            uint64_t size = 0;
            while (y >= static_cast<i128>(a)) {
                y /= static_cast<i128>(a);
                ++size;
            }
            x -= size_to_index_native(size, a);
            digits_native(x, size, a, orders);
            return orders;
        }
    }
    mpz_class x = index.to_mpz() + size_to_index_mpz(min_size, a);
    mpz_class y = x * a;
    y -= x;
    y += 1;
    uint64_t size = y < a ? 0 : log_floor_mpz(y, a);
    if (size > MAX_COLLECTION_SIZE) raise_choice_too_large();
    x -= size_to_index_mpz(size, a);
    digits_mpz(x, size, a, orders);
    return orders;
}

Int bytes_to_index(std::span<const uint8_t> value, uint64_t min_size) {
    uint64_t n = value.size();
    check_index_size(n, min_size, 256);
    if (fits_native(n, 256) && fits_native(min_size, 256)) return index_from_orders(value, n, min_size, 256);
    mpz_class digits;
    if (n) mpz_import(digits.get_mpz_t(), n, 1, 1, 1, 0, value.data());
    mpz_class r = size_to_index_mpz(n, 256) - size_to_index_mpz(min_size, 256);
    r += digits;
    return Int::of(r);
}

py::Ref bytes_from_index(const Int& index, uint64_t min_size) {
    std::vector<uint64_t> orders = collection_value_to_orders(index, min_size, 256);
    py::Ref r = py::check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(orders.size())));
    char* p = PyBytes_AsString(r.get());
    if (!p) throw py::Err{};
    for (size_t k = 0; k < orders.size(); ++k) p[k] = static_cast<char>(orders[k]);
    return r;
}

bool bytes_permitted(uint64_t length, const BytesConstraints& c) {
    return length >= c.min_size && length <= c.max_size;
}

std::vector<uint64_t> string_orders(std::string_view utf8, uint64_t min_size, const IntervalSet& s) {
    uint64_t n = count_codepoints(utf8);
    check_index_size(n, min_size, s.size);
    std::vector<uint64_t> orders;
    orders.reserve(n);
    for_each_codepoint(utf8, [&](int64_t c) {
        orders.push_back(s.shrink_index_of_position(s.ordinal_of(c)));
    });
    return orders;
}

Int string_to_index(std::string_view utf8, uint64_t min_size, const IntervalSet& s) {
    std::vector<uint64_t> orders = string_orders(utf8, min_size, s);
    return index_from_orders(orders, orders.size(), min_size, s.size);
}

py::Ref string_from_index(const Int& index, uint64_t min_size, const IntervalSet& s) {
    std::vector<uint64_t> orders = collection_value_to_orders(index, min_size, s.size);
    std::vector<int64_t> cps;
    cps.reserve(orders.size());
    for (uint64_t o : orders) cps.push_back(s.char_in_shrink_order(static_cast<int64_t>(o)));
    return cps_to_pystr(cps);
}

bool string_permitted(std::string_view utf8, const StringConstraints& c) {
    uint64_t n = count_codepoints(utf8);
    if (n < c.min_size || n > c.max_size) return false;
    const IntervalSet& s = c.set();
    bool ok = true;
    for_each_codepoint(utf8, [&](int64_t cp) { ok = ok && s.contains(cp); });
    return ok;
}

py::Ref cps_to_pystr(std::span<const int64_t> cps) {
    bool scalar = true;
    for (int64_t c : cps) scalar = scalar && is_scalar_value(c);
    if (scalar) {
        std::string text;
        text.reserve(cps.size());
        for (int64_t c : cps) append_utf8(text, static_cast<uint32_t>(c));
        return py::check(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
    }
    py::Ref chr = py::import_attr("builtins", "chr");
    py::Ref parts = py::new_list();
    for (int64_t c : cps) {
        py::Ref code = py::from_i64(c);
        py::Ref ch = py::call(chr.get(), code.get());
        py::list_append(parts.get(), ch.get());
    }
    py::Ref empty = py::str("");
    return py::check(PyUnicode_Join(empty.get(), parts.get()));
}

}  // namespace choice
