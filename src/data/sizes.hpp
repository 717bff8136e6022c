// Sizes of recorded values in the choice-sequence byte format (a header of
// one byte, more for a long payload, then the payload), which the record's
// buffer accounting counts. The small ones are inline: every draw uses them.
#pragma once

#include <bit>
#include <cstdint>

#include "py/py.hpp"

namespace data {

// A payload of `payload` bytes with its header (saturating).
inline uint64_t with_header(uint64_t payload) {
    uint64_t header = 1;
    if (payload >= 31) {
        for (uint64_t x = payload; x; x >>= 7) ++header;
    }
    return payload > UINT64_MAX - header ? UINT64_MAX : header + payload;
}

// Payload of an int: floor(bits(|v|) / 8) + 1.
inline uint64_t i64_payload(long long x) {
    uint64_t mag = x < 0 ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
    return static_cast<uint64_t>(std::bit_width(mag)) / 8 + 1;
}

// Serialized size of a recorded value (header + payload); 1 when it cannot
// be computed. Never fails but for an interrupt or exit request raised by
// the value's own code (a str subclass's encode), which is thrown.
uint64_t serialized_size(PyObject* value);

}  // namespace data
