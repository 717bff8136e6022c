// Reads lines "width bits" (a float as its hexadecimal bit pattern) and
// prints the bit pattern of next_up_width(width, x): the operation has no
// Python entry point of its own.
#include <bit>
#include <cstdint>
#include <cstdio>

#include "floats/floats.hpp"

int main() {
    unsigned w;
    unsigned long long bits;
    while (std::scanf("%u %llx", &w, &bits) == 2) {
        double r = floats::next_up_width(w, std::bit_cast<double>(static_cast<uint64_t>(bits)));
        std::printf("%016llx\n", static_cast<unsigned long long>(std::bit_cast<uint64_t>(r)));
    }
    return 0;
}
