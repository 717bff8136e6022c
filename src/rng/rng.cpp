#include "rng/rng.hpp"

#include <bit>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>

namespace rng {

ChaChaKey expand_seed(uint64_t seed) {
    ChaChaKey key;
    uint64_t state = seed;
    for (auto& word : key) {
        state = state * 0x5851f42d4c957f2dULL + 0xa17654e46fbe17f3ULL;
        auto xorshifted = static_cast<uint32_t>(((state >> 45) ^ (state >> 27)) & 0xffffffffULL);
        word = std::rotr(xorshifted, static_cast<int>(state >> 59));
    }
    return key;
}

namespace {

inline void quarter(uint32_t* x, int a, int b, int c, int d) {
    x[a] += x[b]; x[d] = std::rotl(x[d] ^ x[a], 16);
    x[c] += x[d]; x[b] = std::rotl(x[b] ^ x[c], 12);
    x[a] += x[b]; x[d] = std::rotl(x[d] ^ x[a], 8);
    x[c] += x[d]; x[b] = std::rotl(x[b] ^ x[c], 7);
}

}  // namespace

void chacha_block(const ChaChaKey& key, uint64_t counter, uint64_t stream, int rounds,
                  uint32_t out[16]) {
    uint32_t in[16] = {
        0x61707865, 0x3320646e, 0x79622d32, 0x6b206574,
        key[0], key[1], key[2], key[3], key[4], key[5], key[6], key[7],
        static_cast<uint32_t>(counter), static_cast<uint32_t>(counter >> 32),
        static_cast<uint32_t>(stream), static_cast<uint32_t>(stream >> 32),
    };
    uint32_t x[16];
    std::memcpy(x, in, sizeof x);
    for (int i = 0; i < rounds; i += 2) {
        quarter(x, 0, 4, 8, 12);
        quarter(x, 1, 5, 9, 13);
        quarter(x, 2, 6, 10, 14);
        quarter(x, 3, 7, 11, 15);
        quarter(x, 0, 5, 10, 15);
        quarter(x, 1, 6, 11, 12);
        quarter(x, 2, 7, 8, 13);
        quarter(x, 3, 4, 9, 14);
    }
    for (int i = 0; i < 16; ++i) out[i] = x[i] + in[i];
}

void Rng::refill() {
    base_ = counter_;
    counter_ += 4;
    index_ = 0;
    filled_ = 0;
}

void Rng::make_available() {
    if (index_ >= BUFFER_WORDS) refill();
    while (filled_ <= index_) {
        chacha_block(key_, base_ + filled_ / 16, 0, ROUNDS, &buf_[filled_]);
        filled_ += 16;
    }
}

uint64_t Rng::next_u64() {
    // Low word first; the two reads may straddle a refill.
    uint64_t lo = next_u32();
    uint64_t hi = next_u32();
    return lo | (hi << 32);
}

uint64_t Rng::gen_range(uint64_t n) {
    if (n == 0) return 0;
    const uint64_t zone = (n << std::countl_zero(n)) - 1;
    for (;;) {
        const unsigned __int128 p = static_cast<unsigned __int128>(next_u64()) * n;
        if (static_cast<uint64_t>(p) <= zone) return static_cast<uint64_t>(p >> 64);
    }
}

void Rng::fill_bytes(uint8_t* dst, size_t n) {
    while (n > 0) {
        if (index_ >= filled_) make_available();
        const size_t avail_words = filled_ - index_;
        const size_t take = n < avail_words * 4 ? n : avail_words * 4;
        for (size_t i = 0; i < take; ++i) {
            dst[i] = static_cast<uint8_t>(buf_[index_ + i / 4] >> (8 * (i % 4)));
        }
        index_ += static_cast<uint32_t>((take + 3) / 4);
        dst += take;
        n -= take;
    }
}

namespace {

uint64_t entropy_seed() {
    try {
        std::random_device dev;
        return (static_cast<uint64_t>(dev()) << 32) | dev();
    } catch (...) {
        // No entropy device: a seed that still differs per thread and per run.
        auto now = static_cast<uint64_t>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count());
        static thread_local int anchor;
        return now ^ (reinterpret_cast<uintptr_t>(&anchor) * 0x9e3779b97f4a7c15ULL);
    }
}

}  // namespace

uint64_t fresh_seed() {
    static thread_local std::optional<Rng> seeder;
    if (!seeder) seeder.emplace(entropy_seed());
    return seeder->next_u64();
}

}  // namespace rng
