// The record's random generator: ChaCha with 12 rounds, keyed from one 64-bit
// seed, read through a buffer of four blocks. Equal seeds give equal streams on
// every machine; the order in which the operations below are called is part of
// what a test case is, so callers must not reorder them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace rng {

using ChaChaKey = std::array<uint32_t, 8>;

// Eight key words from a seed by the PCG32 step (state advanced before each
// word, output = rotr32((state >> 45) ^ (state >> 27), state >> 59)).
ChaChaKey expand_seed(uint64_t seed);

// One ChaCha block: the 16 output words for `key`, the 64-bit block `counter`
// and the 64-bit `stream` number after `rounds` rounds (even, >= 2) with the
// input added back. The generator uses 12 rounds; other counts exist for
// checking the block function against published 20-round vectors.
void chacha_block(const ChaChaKey& key, uint64_t counter, uint64_t stream, int rounds,
                  uint32_t out[16]);

class Rng {
public:
    static constexpr int ROUNDS = 12;
    static constexpr uint32_t BUFFER_WORDS = 64;  // four blocks

    explicit Rng(uint64_t seed) : Rng(expand_seed(seed)) {}
    explicit Rng(const ChaChaKey& key) : key_(key) {}
    // Become Rng(seed), leaving the buffer's stale words unread.
    void reseed(uint64_t seed) {
        key_ = expand_seed(seed);
        counter_ = 0;
        base_ = 0;
        index_ = BUFFER_WORDS;
        filled_ = BUFFER_WORDS;
    }

    uint32_t next_u32() {
        if (index_ >= filled_) make_available();
        return buf_[index_++];
    }
    // Low word first; a 64-bit read may straddle a refill.
    uint64_t next_u64();
    // 53 random bits in [0, 1).
    double next_f64() { return static_cast<double>(next_u64() >> 11) * 0x1p-53; }
    // The top bit of the next 32-bit output.
    bool next_bool() { return (next_u32() >> 31) != 0; }
    // Uniform in [0, n) by widening multiplication with rejection; n >= 1.
    // n == 0 answers 0 and draws nothing.
    uint64_t gen_range(uint64_t n);
    // Little-endian bytes of consecutive words; a partly used word is spent.
    void fill_bytes(uint8_t* dst, size_t n);

    // Position in the stream, for tests and diagnostics: the block counter of
    // the next refill and the read index into the buffer (64 = empty).
    uint64_t block_counter() const { return counter_; }
    uint32_t buffer_index() const { return index_; }

private:
    // The buffer holds four blocks, but a block is computed only when its
    // first word is read: most records read a few words of the first block.
    // The stream is the same as with eager four-block refills.
    void refill();
    // Make buf_[index_] readable: refill when the buffer is spent, then
    // compute the block holding index_.
    void make_available();

    ChaChaKey key_;
    uint64_t counter_ = 0;  // block counter of the next refill
    uint64_t base_ = 0;     // block counter of buf_[0]
    uint32_t index_ = BUFFER_WORDS;
    uint32_t filled_ = BUFFER_WORDS;  // words of buf_ computed so far
    std::array<uint32_t, BUFFER_WORDS> buf_{};
};

// A seed nobody chose: the next 64-bit output of the calling thread's own
// generator, itself seeded from the operating system's entropy source on
// first use. Not reproducible by design.
uint64_t fresh_seed();

}  // namespace rng
