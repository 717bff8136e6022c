"""A plain Python model of the record's generator and of the draws built on it,
written from the algorithm's description, to check the native code against."""

import math

MASK32 = 0xFFFFFFFF
MASK64 = 0xFFFFFFFFFFFFFFFF


def expand_seed(seed):
    key, state = [], seed
    for _ in range(8):
        state = (state * 0x5851F42D4C957F2D + 0xA17654E46FBE17F3) & MASK64
        x = ((state >> 45) ^ (state >> 27)) & MASK32
        rot = state >> 59
        key.append(((x >> rot) | (x << (32 - rot))) & MASK32)
    return key


def _rotl(v, n):
    return ((v << n) | (v >> (32 - n))) & MASK32


def _quarter(x, a, b, c, d):
    x[a] = (x[a] + x[b]) & MASK32; x[d] = _rotl(x[d] ^ x[a], 16)
    x[c] = (x[c] + x[d]) & MASK32; x[b] = _rotl(x[b] ^ x[c], 12)
    x[a] = (x[a] + x[b]) & MASK32; x[d] = _rotl(x[d] ^ x[a], 8)
    x[c] = (x[c] + x[d]) & MASK32; x[b] = _rotl(x[b] ^ x[c], 7)


def chacha_block(key, counter, stream, rounds):
    state = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574, *key,
             counter & MASK32, counter >> 32, stream & MASK32, stream >> 32]
    x = list(state)
    for _ in range(rounds // 2):
        _quarter(x, 0, 4, 8, 12); _quarter(x, 1, 5, 9, 13)
        _quarter(x, 2, 6, 10, 14); _quarter(x, 3, 7, 11, 15)
        _quarter(x, 0, 5, 10, 15); _quarter(x, 1, 6, 11, 12)
        _quarter(x, 2, 7, 8, 13); _quarter(x, 3, 4, 9, 14)
    return [(a + b) & MASK32 for a, b in zip(x, state)]


class Rng:
    def __init__(self, seed):
        self.key = expand_seed(seed)
        self.counter = 0
        self.buf = [0] * 64
        self.index = 64

    def _refill(self):
        self.buf = []
        for i in range(4):
            self.buf += chacha_block(self.key, self.counter + i, 0, 12)
        self.counter += 4
        self.index = 0

    def next_u32(self):
        if self.index == 64:
            self._refill()
        self.index += 1
        return self.buf[self.index - 1]

    def next_u64(self):
        # Two words, low first, refilling in between when needed.
        lo = self.next_u32()
        hi = self.next_u32()
        return lo | (hi << 32)

    def next_f64(self):
        return (self.next_u64() >> 11) * 2.0**-53

    def next_bool(self):
        return self.next_u32() >> 31 == 1

    def gen_range(self, n):
        # Widening multiply; accept when the low half is at most n shifted up
        # to the top bit, minus one (a multiple of n, so no bias).
        zone = ((n << (64 - n.bit_length())) & MASK64) - 1
        while True:
            p = self.next_u64() * n
            if p & MASK64 <= zone:
                return p >> 64

    def fill_bytes(self, n):
        out = bytearray()
        while len(out) < n:
            if self.index == 64:
                self._refill()
            room = (64 - self.index) * 4
            take = min(room, n - len(out))
            chunk = b"".join(w.to_bytes(4, "little") for w in self.buf[self.index:])
            out += chunk[:take]
            self.index += -(-take // 4)
        return bytes(out)

    def state(self):
        return self.counter, self.index


def round_half_away(x):
    f = math.floor(x)
    diff = x - f
    if diff > 0.5 or (diff == 0.5 and x > 0):
        return int(f) + 1
    return int(f)


def draw_integer(rng, lo, hi, cdf, inverse_cdf):
    """An integer draw; cdf and inverse_cdf are the distribution's functions."""
    if lo is None and hi is None:
        lo, hi = -(2**128), 2**128
    elif hi is None:
        hi = max(2**128, 2 * abs(lo))
    elif lo is None:
        lo = -max(2**128, 2 * abs(hi))
    try:
        a, b = float(lo), float(hi)
    except OverflowError:
        return _uniform(rng, lo, hi)
    c0 = cdf(a - 0.5)
    w = cdf(b + 0.5) - c0
    if w < 1e-13:
        return _uniform(rng, lo, hi)
    while True:
        u = c0 + w * rng.next_f64()
        if u not in (0.0, 1.0):
            break
    x = inverse_cdf(u)
    if not math.isfinite(x):
        return _uniform(rng, lo, hi)
    return min(max(round_half_away(x), lo), hi)


def _uniform(rng, lo, hi):
    span = hi - lo
    if span <= 0:
        return lo
    k = span.bit_length()
    words = max(1, -(-k // 64))
    while True:
        v = 0
        for _ in range(words):
            v = (v << 64) | rng.next_u64()
        v &= (1 << k) - 1
        if v <= span:
            return lo + v


def continuation_probability(min_size, max_size):
    def expected(p, span):
        return span if p >= 1.0 else (1.0 - math.pow(p, span)) * (1.0 / (1.0 - p) - 1.0)

    m = float(min_size)
    avg = min(max(2 * m, m + 5), (m + max_size) / 2) - m
    span = float(max_size - min_size)
    if avg >= span:
        return 1.0
    p = 1.0 - 1.0 / (avg + 1.0)
    if p == 0.0:
        return p
    while expected(p, span) > avg:
        p -= 0.0001
        if p < 2.2250738585072014e-308:
            return 2.2250738585072014e-308
    hi = 1.0
    while avg - expected(p, span) > 0.01:
        mid = (hi + p) / 2
        if mid in (p, hi):
            break
        if expected(mid, span) <= avg:
            p = mid
        else:
            hi = mid
    return p


def draw_collection_size(rng, min_size, max_size):
    if min_size == max_size:
        return min_size
    p = continuation_probability(min_size, max_size)
    size = min_size
    while size < max_size and rng.next_f64() < p:
        size += 1
    return size
