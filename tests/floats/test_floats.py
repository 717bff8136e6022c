import math
import random
import struct
import subprocess

import pytest

from quorvantis_fast._engine import float_to_lex, is_simple, lex_to_float

from qf_testing import bits_of, build_driver, from_bits

TWO_56 = 2**56


def random_floats(seed, n=4000):
    rnd = random.Random(seed)
    out = [0.0, -0.0, 1.0, -1.0, 1.5, 0.5, math.inf, -math.inf, math.nan,
           5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
           float(TWO_56), float(TWO_56 - 8), 2.0**53 + 2, from_bits(0x7FF0000000000001),
           from_bits(0xFFF8000000000123)]
    for _ in range(n):
        kind = rnd.randrange(5)
        if kind == 0:
            out.append(from_bits(rnd.getrandbits(64)))
        elif kind == 1:
            out.append(float(rnd.randrange(-(2**60), 2**60)))
        elif kind == 2:
            out.append(rnd.randrange(-1000, 1000) / 2 ** rnd.randrange(0, 60))
        elif kind == 3:
            out.append(from_bits(rnd.getrandbits(52)))  # subnormals
        else:
            out.append(rnd.uniform(-1e6, 1e6))
    return out


def order_key(x):
    """Rank of a magnitude in the shrink order, coarse where the order is
    only partially pinned down: integers below 2^56 by value; then whole
    binades [1, 2), [2, 4), ..., then [0.5, 1), ... down to the subnormals;
    within a binade by integer part, then fewer fractional bits first;
    infinity and NaN last."""
    x = abs(x)
    if math.isnan(x):
        return (3, 0, 0)
    if math.isinf(x):
        return (2, 0, 0)
    if x == int(x) and x < TWO_56:
        return (0, int(x), 0)
    biased = bits_of(x) >> 52
    binade = biased - 1023 if biased >= 1023 else 1024 + 1022 - biased
    denominator = x.as_integer_ratio()[1]
    fractional_bits = denominator.bit_length() - 1
    return (1, binade, math.floor(x), fractional_bits)


class TestLexEncoding:
    def test_decoding_the_encoding_gives_the_magnitude_bit_for_bit(self):
        for x in random_floats(1):
            assert bits_of(lex_to_float(float_to_lex(x))) == bits_of(abs(x)) or (
                math.isnan(x) and bits_of(lex_to_float(float_to_lex(x))) == bits_of(x) & ~(1 << 63)
            )

    def test_encoding_ignores_the_sign(self):
        for x in random_floats(2, 500):
            assert float_to_lex(x) == float_to_lex(-x)

    def test_order_of_positions_follows_simplicity(self):
        xs = sorted({bits_of(abs(x)) for x in random_floats(3)})
        xs = sorted((from_bits(b) for b in xs), key=float_to_lex)
        keys = [order_key(x) for x in xs]
        assert keys == sorted(keys)
        positions = [float_to_lex(x) for x in xs]
        assert len(set(positions)) == len(positions)

    def test_small_integers_are_their_own_position(self):
        rnd = random.Random(4)
        for n in [0, 1, 2, 2**53, TWO_56 - 8] + [rnd.randrange(2**56) for _ in range(300)]:
            assert float_to_lex(float(n)) == int(float(n))
        assert float_to_lex(float(TWO_56)) >> 63 == 1

    def test_positions_of_known_values(self):
        assert float_to_lex(1.5) == 2**63 + 1
        assert float_to_lex(math.inf) == 0xFFF0000000000000
        nan = from_bits(0x7FF8000000000123)
        assert float_to_lex(nan) == 0xFFF0000000000000 + 0x8000000000123
        # [1, 2) comes first among exponents, [0.5, 1) after the largest finite.
        assert float_to_lex(1.25) < float_to_lex(1.7976931348623157e308) < float_to_lex(0.5)
        assert float_to_lex(0.5) < float_to_lex(5e-324) < float_to_lex(math.inf)

    def test_positions_decode_back_to_themselves_unless_an_integer_is_shorter(self):
        rnd = random.Random(5)
        for _ in range(3000):
            i = rnd.getrandbits(64) | (1 << 63)
            y = lex_to_float(i)
            if is_simple(y):
                assert float_to_lex(y) == int(y) < i
            else:
                assert float_to_lex(y) == i
        for i in [0, 1, 2**53, rnd.randrange(2**53)]:
            assert float_to_lex(lex_to_float(i)) == i

    def test_integer_form_rounds_and_ignores_bits_56_to_62(self):
        assert lex_to_float(2**53 + 1) == 9007199254740992.0
        assert lex_to_float((0x7F << 56) | 5) == 5.0
        assert lex_to_float(2**56 - 1) == float(2**56)


class TestIsSimple:
    def test_matches_definition(self):
        for x in random_floats(6, 2000):
            expected = math.isfinite(x) and x == int(x) and abs(x) < TWO_56
            assert is_simple(x) is expected

    def test_edges(self):
        assert is_simple(float(TWO_56 - 8)) and is_simple(-0.0) and is_simple(-7.0)
        assert not is_simple(float(TWO_56))
        assert not is_simple(math.inf) and not is_simple(math.nan) and not is_simple(0.5)


class TestArguments:
    def test_conversions(self):
        assert float_to_lex(3) == 3  # ints convert through float()
        assert float_to_lex(f=2.0) == 2
        assert is_simple(f=True)
        with pytest.raises(TypeError, match="argument 'f'"):
            float_to_lex("1.0")
        with pytest.raises(TypeError, match="argument 'f'"):
            is_simple(None)
        with pytest.raises(TypeError, match="argument 'i'"):
            lex_to_float(1.0)
        with pytest.raises(OverflowError):
            lex_to_float(-1)
        with pytest.raises(OverflowError):
            lex_to_float(2**64)
        assert bits_of(lex_to_float(i=2**64 - 1)) == 0x7FFFFFFFFFFFFFFF
        with pytest.raises(TypeError):
            float_to_lex()
        with pytest.raises(TypeError):
            float_to_lex(1.0, g=2)


# next_up_width has no Python entry point: a small native driver runs it.
WIDTH_FORMATS = {16: "<e", 32: "<f", 64: "<d"}


@pytest.fixture(scope="module")
def next_up_width():
    exe, env = build_driver("next_up_width", ("tests/floats/native/next_up_width.cpp", "src/floats/floats.cpp"))

    def run(pairs):
        text = "".join(f"{w} {bits_of(x):x}\n" for w, x in pairs)
        out = subprocess.run([str(exe)], input=text, capture_output=True, text=True, check=True, env=env)
        return [from_bits(int(line, 16)) for line in out.stdout.split()]

    return run


def representable(width, x):
    if not math.isfinite(x):
        return True
    try:
        return struct.unpack(WIDTH_FORMATS[width], struct.pack(WIDTH_FORMATS[width], x))[0] == x
    except OverflowError:
        return False


def step_down(width, y):
    """The value of the width just below y (y representable, finite or +inf)."""
    fmt, nbits = WIDTH_FORMATS[width], width
    if y == math.inf:
        return max_finite(width)
    raw = int.from_bytes(struct.pack(fmt, y), "little")
    sign = 1 << (nbits - 1)
    if y == 0.0:
        raw = sign | 1
    elif raw & sign:
        raw += 1
    else:
        raw -= 1
    return struct.unpack(fmt, raw.to_bytes(nbits // 8, "little"))[0]


def max_finite(width):
    return {16: 65504.0, 32: 3.4028234663852886e38, 64: 1.7976931348623157e308}[width]


class TestNextUpWidth:
    def test_least_value_of_the_width_above_x(self, next_up_width):
        rnd = random.Random(7)
        xs = [0.0, -0.0, 1.0, -1.0, 65504.0, 65520.0, -65504.0, 5e-324, -5e-324,
              1e-8, -1e-8, 3.4028234663852886e38, -3.4028234663852886e38, 1e300, -1e300,
              -math.inf, 2.0**-24, -(2.0**-24), 2.0**-149, -(2.0**-149)]
        xs += [from_bits(rnd.getrandbits(64)) for _ in range(500)]
        xs += [rnd.uniform(-70000, 70000) for _ in range(500)]
        pairs = [(w, x) for w in (16, 32, 64) for x in xs]
        for w in (16, 32):  # values of the width itself
            fmt = WIDTH_FORMATS[w]
            pairs += [(w, struct.unpack(fmt, rnd.getrandbits(w).to_bytes(w // 8, "little"))[0])
                      for _ in range(1000)]
        pairs = [(w, x) for w, x in pairs if not math.isnan(x) and x != math.inf]
        for (w, x), r in zip(pairs, next_up_width(pairs)):
            assert r > x, (w, x, r)
            assert representable(w, r), (w, x, r)
            if not representable(w, x):
                # Rounded to the width first, then stepped at least once.
                continue
            if r == math.inf:
                assert x >= max_finite(w)
            else:
                assert step_down(w, r) <= x, (w, x, r)

    def test_known_values(self, next_up_width):
        pairs = [(64, 0.0), (64, -0.0), (64, -math.inf), (64, 1.0), (32, 1.0), (16, 65504.0),
                 (16, -0.0), (32, 0.0), (16, math.inf), (32, math.nan), (64, math.inf), (7, 1.0)]
        got = next_up_width(pairs)
        assert got[:8] == [5e-324, 5e-324, -1.7976931348623157e308, 1.0000000000000002,
                           1.0000001192092896, math.inf, 5.960464477539063e-08, 2.0**-149]
        assert got[8] == math.inf and math.isnan(got[9]) and got[10] == math.inf
        assert got[11] == 1.0000000000000002  # other widths count as 64
