import math
import random

import pytest

from quorvantis_fast._engine import (
    IntervalSet,
    choice_from_index,
    choice_index_order,
    choice_permitted,
    choice_to_index,
    float_to_lex,
    zigzag_index,
    zigzag_value,
)

from quorvantis_fast.errors import ChoiceTooLarge
from qf_testing import bits_of, from_bits

SMALLEST_NORMAL = 2.2250738585072014e-308


def int_constraints(min_value=None, max_value=None, shrink_towards=0):
    return {"min_value": min_value, "max_value": max_value, "weights": None,
            "shrink_towards": shrink_towards}


def clamped(c):
    st = c["shrink_towards"]
    if c["min_value"] is not None and c["min_value"] > st:
        st = c["min_value"]
    if c["max_value"] is not None and c["max_value"] < st:
        st = c["max_value"]
    return st


def in_bounds(v, c):
    return (c["min_value"] is None or v >= c["min_value"]) and (
        c["max_value"] is None or v <= c["max_value"])


# Magnitudes around the native fast path's edges (64 and 128 bits) and past it.
ANCHORS = [0, 1, -1, 100, -100, 2**31, 2**63 - 1, -(2**63), 2**64, -(2**64) - 3,
           2**100, 2**120 + 5, -(2**120), 2**127 - 1, -(2**127), 2**130, -(2**200)]


def random_int_constraints(rnd):
    centre = rnd.choice(ANCHORS)
    st = centre + rnd.randrange(-40, 40)
    lo = centre + rnd.randrange(-60, 20) if rnd.random() < 0.7 else None
    hi = (lo if lo is not None else centre) + rnd.randrange(0, 80) if rnd.random() < 0.7 else None
    return int_constraints(lo, hi, st)


class TestIntegerOrder:
    def test_indices_follow_distance_from_shrink_towards(self):
        # Near the clamped shrink_towards, the order is by distance, the
        # value above before the one below; values out of bounds are skipped.
        rnd = random.Random(10)
        for _ in range(300):
            c = random_int_constraints(rnd)
            st = clamped(c)
            window = [v for v in range(st - 30, st + 31) if in_bounds(v, c)]
            expected = sorted(window, key=lambda v: (abs(v - st), v < st))
            assert [choice_to_index(v, c) for v in expected] == list(range(len(expected)))
            assert [choice_from_index(i, "integer", c) for i in range(len(expected))] == expected

    def test_round_trip_of_values_within_bounds(self):
        rnd = random.Random(11)
        for _ in range(2000):
            c = random_int_constraints(rnd)
            lo = c["min_value"] if c["min_value"] is not None else clamped(c) - 2**70
            hi = c["max_value"] if c["max_value"] is not None else clamped(c) + 2**70
            v = rnd.choice([lo, hi, rnd.randint(lo, hi)])
            i = choice_to_index(v, c)
            assert i >= 0
            assert choice_from_index(i, "integer", c) == v

    def test_bounded_indices_are_exactly_the_first_n(self):
        for lo, hi, st in [(0, 10, 3), (0, 10, 8), (0, 10, 20), (-5, 5, -100), (7, 7, 0),
                           (2**64 - 3, 2**64 + 3, 0), (-(2**63), -(2**63) + 4, 2**63)]:
            c = int_constraints(lo, hi, st)
            assert sorted(choice_to_index(v, c) for v in range(lo, hi + 1)) == list(
                range(hi - lo + 1))

    def test_known_orders(self):
        c = int_constraints(0, 10, 3)
        assert [choice_from_index(i, "integer", c) for i in range(11)] == [
            3, 4, 2, 5, 1, 6, 0, 7, 8, 9, 10]
        c = int_constraints(0, 10, 20)
        assert [choice_from_index(i, "integer", c) for i in range(11)] == list(range(10, -1, -1))
        c = int_constraints()
        assert choice_from_index(2, "integer", c) == -1
        assert choice_from_index(1, "integer", c) == 1
        c = int_constraints(0, None, 0)
        assert [choice_from_index(i, "integer", c) for i in range(5)] == [0, 1, 2, 3, 4]
        # No range check: an index past the bounds gives a value past them.
        assert choice_from_index(7, "integer", int_constraints(0, 3, 0)) == 7

    def test_missing_bounds_mean_unbounded(self):
        assert choice_to_index(-3, {"shrink_towards": 0}) == 6
        assert choice_from_index(6, "integer", {"shrink_towards": 0}) == -3


class TestZigzag:
    def test_round_trip_and_order(self):
        rnd = random.Random(12)
        for _ in range(2000):
            st = rnd.choice(ANCHORS) + rnd.randrange(-5, 5)
            v = st + rnd.choice([0, 1, -1, rnd.randrange(-(2**70), 2**70)])
            i = zigzag_index(v, shrink_towards=st)
            assert i == 2 * abs(v - st) - (v > st)
            assert zigzag_value(i, shrink_towards=st) == v

    def test_known_values(self):
        assert zigzag_index(5, shrink_towards=3) == 3
        assert zigzag_index(1, shrink_towards=3) == 4
        assert zigzag_value(4, shrink_towards=3) == 1
        assert zigzag_value(0, shrink_towards=3) == 3
        assert zigzag_value(-1, shrink_towards=3) == 3
        assert zigzag_value(-3, shrink_towards=3) == 2

    def test_arguments(self):
        with pytest.raises(TypeError):
            zigzag_index(1)
        with pytest.raises(TypeError):
            zigzag_index(1, 2)
        with pytest.raises(TypeError, match="argument 'shrink_towards'"):
            zigzag_index(1, shrink_towards=1.5)
        with pytest.raises(TypeError, match="argument 'index'"):
            zigzag_value("1", shrink_towards=0)


def float_constraints(min_value=-math.inf, max_value=math.inf, allow_nan=True,
                      smallest_nonzero_magnitude=5e-324):
    return {"min_value": min_value, "max_value": max_value, "allow_nan": allow_nan,
            "smallest_nonzero_magnitude": smallest_nonzero_magnitude}


def permitted_model(x, c):
    if math.isnan(x):
        return c["allow_nan"]
    if x != 0 and abs(x) < c["smallest_nonzero_magnitude"]:
        return False
    lo, hi = c["min_value"], c["max_value"]
    # -0.0 ranks just below +0.0.
    key = (x, math.copysign(1, x))
    return (lo, math.copysign(1, lo)) <= key <= (hi, math.copysign(1, hi))


FLOAT_BOUNDS = [-math.inf, -1e300, -3.5, -1.0, -SMALLEST_NORMAL, -5e-324, -0.0, 0.0, 5e-324,
                1e-310, 0.5, 1.0, 2.0, 1e300, math.inf]


def random_float(rnd):
    return rnd.choice([
        lambda: from_bits(rnd.getrandbits(64)),
        lambda: float(rnd.randrange(-100, 100)),
        lambda: rnd.uniform(-10, 10),
        lambda: rnd.choice(FLOAT_BOUNDS),
    ])()


def random_float_constraints(rnd):
    lo, hi = sorted([rnd.choice(FLOAT_BOUNDS), rnd.choice(FLOAT_BOUNDS)],
                    key=lambda x: (x, math.copysign(1, x)))
    return float_constraints(lo, hi, rnd.random() < 0.5)


class TestFloatOrder:
    def test_index_is_lex_position_with_the_sign_on_top(self):
        rnd = random.Random(13)
        for _ in range(2000):
            x = random_float(rnd)
            expected = float_to_lex(x) + (2**64 if bits_of(x) >> 63 else 0)
            assert choice_to_index(x, {}) == expected

    def test_round_trip_of_permitted_floats(self):
        rnd = random.Random(14)
        for _ in range(3000):
            c = random_float_constraints(rnd)
            x = random_float(rnd)
            if not permitted_model(x, c):
                continue
            got = choice_from_index(choice_to_index(x, c), "float", c)
            assert bits_of(got) == bits_of(x) or (math.isnan(x) and bits_of(got) == bits_of(abs(x)))

    def test_every_index_gives_a_permitted_float(self):
        rnd = random.Random(15)
        for _ in range(3000):
            c = random_float_constraints(rnd)
            i = rnd.choice([0, 1, 2**64, rnd.getrandbits(65), rnd.getrandbits(200), -rnd.getrandbits(70)])
            x = choice_from_index(i, "float", c)
            assert permitted_model(x, c), (i, c, x)
            assert choice_permitted(x, c)

    def test_simplest_float(self):
        assert bits_of(choice_from_index(0, "float", float_constraints())) == 0
        assert choice_from_index(0, "float", float_constraints(1.5, 3.0)) == 1.5
        assert choice_from_index(2**64, "float", float_constraints(-1.0, 1.0)) == 0.0
        assert bits_of(choice_from_index(2**64, "float", float_constraints(-1.0, 1.0))) == 1 << 63
        assert choice_to_index(0.0, {}) == 0 and choice_to_index(1.0, {}) == 1

    def test_clamping_uses_the_mantissa_fraction(self):
        # The quiet NaN's mantissa is 2^51: half way, plus rounding of 2^52 - 1.
        c = float_constraints(0.0, 1.0, allow_nan=False)
        assert choice_from_index(float_to_lex(math.nan), "float", c) == 0.5000000000000001
        c = float_constraints(-math.inf, 5.0, allow_nan=False)
        assert choice_from_index(float_to_lex(7.0), "float", c) == -math.inf

    def test_smallest_nonzero_magnitude(self):
        c = float_constraints(-1.0, 1.0, False, SMALLEST_NORMAL)
        for i in [float_to_lex(1e-310), float_to_lex(1e-310) + 2**64]:
            x = choice_from_index(i, "float", c)
            assert x == 0.0 or abs(x) >= SMALLEST_NORMAL
        assert not choice_permitted(1e-320, c)
        c = float_constraints(smallest_nonzero_magnitude=1.0)
        assert not choice_permitted(0.5, c) and choice_permitted(0.0, c)

    def test_signed_zero_bounds(self):
        assert not choice_permitted(-0.0, float_constraints(0.0, 1.0, False))
        assert not choice_permitted(0.0, float_constraints(-1.0, -0.0, False))
        assert choice_permitted(math.nan, float_constraints(0.0, 1.0, True))
        assert not choice_permitted(math.nan, float_constraints(allow_nan=False))


def collection_index(values, min_size, base, order):
    """Index in the order shorter-first, then the element orders as digits."""
    below = lambda n: n if base == 1 else (base**n - 1) // (base - 1)  # noqa: E731
    digits = 0
    for v in values:
        digits = digits * base + order(v)
    return below(len(values)) - below(min_size) + digits


class TestBytesOrder:
    def test_order_is_shorter_first_then_bytewise(self):
        rnd = random.Random(16)
        for _ in range(1500):
            a, b = (bytes(rnd.getrandbits(8) for _ in range(rnd.randrange(0, 20))) for _ in "ab")
            c = {"min_size": rnd.randrange(0, min(len(a), len(b)) + 1)}
            ia, ib = choice_to_index(a, c), choice_to_index(b, c)
            assert (ia < ib) == ((len(a), a) < (len(b), b))
            assert choice_from_index(ia, "bytes", c) == a

    def test_index_matches_the_counting_formula(self):
        rnd = random.Random(17)
        for _ in range(300):
            n = rnd.choice([0, 1, 5, 14, 15, 16, 40, 300])
            value = bytes(rnd.getrandbits(8) for _ in range(n))
            min_size = rnd.randrange(0, n + 1)
            c = {"min_size": min_size}
            expected = collection_index(value, min_size, 256, lambda b: b)
            assert choice_to_index(value, c) == expected
            assert choice_from_index(expected, "bytes", c) == value

    def test_known_indices(self):
        c = {"min_size": 0}
        assert [choice_to_index(b, c) for b in [b"", b"\0", b"\xff", b"\0\0"]] == [0, 1, 256, 257]
        assert choice_to_index(b"\0", {"min_size": 1}) == 0
        assert choice_from_index(0, "bytes", {"min_size": 3}) == b"\0\0\0"

    def test_size_limit(self):
        c = {"min_size": 0}
        last = (256**8192 - 1) // 255 - 1  # the largest index of size 8191
        assert choice_from_index(last, "bytes", c) == b"\xff" * 8191
        with pytest.raises(ChoiceTooLarge):
            choice_from_index(last + 1, "bytes", c)
        with pytest.raises(ChoiceTooLarge):
            choice_from_index(10**50000, "bytes", c)
        with pytest.raises(ChoiceTooLarge):
            choice_from_index(0, "bytes", {"min_size": 2**63})
        with pytest.raises(ChoiceTooLarge):
            choice_from_index(-(2**100), "bytes", {"min_size": 2**62})

    def test_out_of_range_inputs_stay_bounded(self):
        # A value far shorter than an absurd min_size: its index is too large
        # to compute and is refused rather than exhausting memory.
        with pytest.raises(OverflowError):
            choice_to_index(b"", {"min_size": 2**62})
        assert choice_to_index(b"", {"min_size": 2}) == -257
        assert choice_from_index(-1, "bytes", {"min_size": 0}) == b""


def alphabet_order(s):
    return lambda ch: s.index_from_char_in_shrink_order(ch)


def random_alphabet(rnd):
    kind = rnd.randrange(4)
    if kind == 0:
        return IntervalSet.from_string("".join(chr(rnd.randrange(32, 127)) for _ in range(8)))
    if kind == 1:
        return IntervalSet([(32, 126)])
    if kind == 2:
        return IntervalSet([(0x4E00, 0x9FFF), (48, 57), (0x1F600, 0x1F64F)])
    return IntervalSet([(rnd.randrange(0, 0x10000), 0x10FFFF)]) - IntervalSet([(0xD800, 0xDFFF)])


class TestStringOrder:
    def test_round_trip_and_counting_formula(self):
        rnd = random.Random(18)
        for _ in range(500):
            s = random_alphabet(rnd)
            n = rnd.choice([0, 1, 2, 3, 10, 30])
            value = "".join(chr(s[rnd.randrange(len(s))]) for _ in range(n))
            c = {"min_size": rnd.randrange(0, n + 1), "intervals": s}
            i = choice_to_index(value, c)
            assert i == collection_index(value, c["min_size"], len(s), alphabet_order(s))
            assert choice_from_index(i, "string", c) == value

    def test_first_indices_enumerate_short_strings(self):
        s = IntervalSet.from_string("abc0")
        c = {"min_size": 0, "intervals": s}
        values = [choice_from_index(i, "string", c) for i in range(21)]
        first = [s.char_in_shrink_order(i) for i in range(4)]
        assert values[:5] == [""] + first
        assert values[5:9] == [first[0] + x for x in first]
        assert len(set(values)) == 21

    def test_simplest_string(self):
        s = IntervalSet([(32, 126)])
        assert choice_from_index(0, "string", {"min_size": 3, "intervals": s}) == "000"
        assert choice_to_index("", {"min_size": 0, "intervals": IntervalSet.from_string("abc")}) == 0

    def test_empty_alphabet_gives_the_empty_string(self):
        c = {"min_size": 5, "intervals": IntervalSet()}
        for i in [0, 1, 10**40, -3]:
            assert choice_from_index(i, "string", c) == ""

    def test_code_points_outside_unicode_text(self):
        # A lone surrogate round-trips, so a failing text holding one replays.
        c = {"min_size": 0, "max_size": 5, "intervals": IntervalSet([(0xD800, 0xD801)])}
        text = choice_from_index(5, "string", c)
        assert set(text) == {"\ud800", "\ud801"}
        assert choice_to_index(text, c) == 5 and choice_permitted(text, c)
        c = {"min_size": 0, "intervals": IntervalSet([(0x110000, 0x110000)])}
        with pytest.raises(ValueError):
            choice_from_index(1, "string", c)

    def test_character_not_in_alphabet(self):
        c = {"min_size": 0, "intervals": IntervalSet.from_string("abc")}
        with pytest.raises(ValueError, match="is not in list"):
            choice_to_index("abz", c)

    def test_size_limit_with_a_single_letter(self):
        c = {"min_size": 0, "intervals": IntervalSet.from_string("x")}
        assert choice_from_index(8191, "string", c) == "x" * 8191
        with pytest.raises(ChoiceTooLarge):
            choice_from_index(8192, "string", c)
        with pytest.raises(ChoiceTooLarge):
            choice_from_index(-1, "string", c)


class TestBooleanOrder:
    @pytest.mark.parametrize("p, false_index, true_index", [
        (0.5, 0, 1), (1e-19, 0, 1), (1.0, 0, 0), (0.0, 0, 0), (1e-30, 0, 0), (math.nan, 0, 0)])
    def test_indices(self, p, false_index, true_index):
        assert choice_to_index(False, {"p": p}) == false_index
        assert choice_to_index(True, {"p": p}) == true_index

    def test_values(self):
        assert [choice_from_index(i, "boolean", {"p": 0.5}) for i in (0, 1, 7)] == [False, True, True]
        assert choice_from_index(0, "boolean", {"p": 1.0}) is True
        assert choice_from_index(5, "boolean", {"p": 0.0}) is False
        assert choice_from_index(5, "boolean", {"p": 1e-30}) is False


def random_text(rnd, s):
    pool = [chr(s[i]) for i in rnd.sample(range(len(s)), min(len(s), 3))] + ["\u2603"] * (rnd.random() < 0.2)
    return "".join(rnd.choice(pool) for _ in range(rnd.randrange(6))) if pool else ""


class TestIndexOrder:
    def test_lazy_order_is_the_order_of_indices(self):
        # Strings compared without their whole index: sharing prefixes,
        # min_size and alphabet (the same object, an equal one, an unordered
        # one) or not, with strangers and refused sizes; and pairs of other
        # kinds, where a choice without an index ranks last.
        def rank(value, constraints):
            try:
                return False, choice_to_index(value, constraints)
            except Exception:
                return True, 0

        rnd = random.Random(11)
        alphabets = [IntervalSet.from_string("ab0Z"), IntervalSet([(32, 126)]), IntervalSet(),
                     IntervalSet.from_string("x"), IntervalSet([(0x62, 0x70), (0x30, 0x39), (0x61, 0x63)])]
        for _ in range(6000):
            s = rnd.choice(alphabets)
            c = {"min_size": rnd.choice([0, 1, 3, 2**40]), "intervals": s}
            x, y, d = random_text(rnd, s), random_text(rnd, s), c
            kind = rnd.randrange(5)
            if kind == 0:
                y = x[:rnd.randrange(len(x) + 1)] + y
            elif kind == 1:
                d = dict(c, intervals=IntervalSet(s.intervals))
            elif kind == 2:
                d = {"min_size": rnd.randrange(3), "intervals": rnd.choice(alphabets)}
            elif kind == 3:
                y, d = x, rnd.choice([c, {"min_size": 0}])
            else:
                d = rnd.choice([{"min_size": rnd.randrange(3)}, {"p": 0.5}, int_constraints()])
                y = rnd.choice([b"", b"\0\1", True, False, -5, 2.5])
            a, b = rank(x, c), rank(y, d)
            assert choice_index_order(x, c, y, d) == (a > b) - (a < b), (x, c, y, d)


class TestChoiceTypes:
    def test_unknown_type_name(self):
        with pytest.raises(NotImplementedError, match="unhandled choice_type list"):
            choice_from_index(0, "list", {})

    def test_unhandled_value(self):
        for v in [None, [1], 1j]:
            with pytest.raises(NotImplementedError, match="unhandled choice type"):
                choice_to_index(v, {})

    def test_subclasses_dispatch_to_their_base(self):
        class MyInt(int):
            pass

        class MyStr(str):
            pass

        class MyFloat(float):
            pass

        assert choice_to_index(MyInt(-1), {"shrink_towards": 0}) == 2
        assert choice_to_index(MyFloat(1.0), {}) == 1
        s = IntervalSet.from_string("ab")
        assert choice_to_index(MyStr("a"), {"min_size": 0, "intervals": s}) == choice_to_index(
            "a", {"min_size": 0, "intervals": s})
