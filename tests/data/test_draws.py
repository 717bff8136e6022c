import math

import pytest

from quorvantis_fast import _engine
from quorvantis_fast._engine import BrindlemarData, IntervalSet

from qf_testing import Simplest, Unlimited, bits_of, rng, seeded_record as seeded, stop_test_of


def float_ok(v, lo, hi, allow_nan, smallest):
    if math.isnan(v):
        return allow_nan
    if v != 0 and abs(v) < smallest:
        return False
    # -0.0 sits just below +0.0
    key = lambda x: (x, 0 if math.copysign(1, x) < 0 else 1)  # noqa: E731
    return key(lo) <= key(v) <= key(hi)


# ---------------------------------------------------------------------------
# Drawn values satisfy their constraints.


def test_integers_respect_bounds():
    r = rng(1)
    pool = [None, 0, 1, -1, 5, 255, -(2**70), 2**64, 2**200, -(2**63)]
    for seed in range(120):
        d = seeded(seed)
        lo, hi = r.choice(pool), r.choice(pool)
        if lo is not None and hi is not None and lo > hi:
            lo, hi = hi, lo
        for _ in range(20):
            v = d.draw_integer(lo, hi, shrink_towards=r.choice([0, 3, -9]))
            assert type(v) is int
            assert (lo is None or v >= lo) and (hi is None or v <= hi), (lo, hi, v)


def test_floats_respect_constraints():
    r = rng(2)
    pool = [-math.inf, math.inf, 0.0, -0.0, 1.0, 2.0, -1e300, 1e-310, 5e-324, 3.5, -7.25]
    for seed in range(150):
        d = seeded(seed)
        lo, hi = sorted([r.choice(pool), r.choice(pool)])
        allow_nan = r.random() < 0.5
        smallest = r.choice([5e-324, 1e-300, 0.5, 2.0])
        for _ in range(20):
            v = d.draw_float(lo, hi, allow_nan=allow_nan, smallest_nonzero_magnitude=smallest)
            assert type(v) is float
            permitted = float_ok(v, lo, hi, allow_nan, smallest)
            # Constraints that admit nothing at all leave the clamp's choice.
            if any(float_ok(c, lo, hi, allow_nan, smallest) for c in (lo, hi, 0.0, -0.0)):
                assert permitted, (lo, hi, allow_nan, smallest, v)


def test_alternating_float_constraints_keep_their_own_special_values():
    # The special values (the bounds among them) always come from the draw's
    # own constraints, however the draws of two kinds alternate.
    seen = {(0.0, 1.0): set(), (5.0, 6.0): set()}
    for seed in range(400):
        d = seeded(seed)
        for lo, hi in seen:
            v = d.draw_float(lo, hi, allow_nan=False)
            assert lo <= v <= hi, (lo, hi, v)
            seen[(lo, hi)].add(v)
    assert {0.0, 1.0} <= seen[(0.0, 1.0)] and {5.0, 6.0} <= seen[(5.0, 6.0)]


def test_strings_and_bytes_respect_sizes_and_alphabet():
    r = rng(3)
    alphabets = [
        [(97, 99)],
        [(48, 57), (65, 90)],
        [(0, 0x10FFFF)],
        [(0xD800, 0xD805)],  # lone surrogates are drawn and kept
        [(32, 126), (0x1F600, 0x1F64F)],
    ]
    for seed in range(100):
        d = seeded(seed)
        pairs = r.choice(alphabets)
        s = IntervalSet(pairs)
        lo = r.randrange(0, 6)
        hi = lo + r.randrange(0, 12)
        v = d.draw_string(s, min_size=lo, max_size=hi)
        assert lo <= len(v) <= hi
        assert all(any(a <= ord(ch) <= b for a, b in pairs) for ch in v)
        b = d.draw_bytes(lo, hi)
        assert type(b) is bytes and lo <= len(b) <= hi


def test_booleans_at_the_edges_never_draw():
    for p in (0.0, -3.0, 1.0, 7.0):
        a, b = seeded(5), seeded(5)
        for _ in range(10):
            assert a.draw_boolean(p) is (p >= 1)
        # nothing was consumed: both records continue identically
        assert [a.draw_integer() for _ in range(5)] == [b.draw_integer() for _ in range(5)]
    # a NaN p consumes one output and gives False
    a, b = seeded(6), seeded(6)
    assert a.draw_boolean(math.nan) is False
    b.draw_boolean(0.5)
    assert a.draw_integer() == b.draw_integer()


def test_boolean_frequency_tracks_p():
    d = seeded(11)
    n = 4000
    hits = sum(d.draw_boolean(0.25) for _ in range(n))
    # mean 1000, sd ~27: 10 sd of slack
    assert 730 < hits < 1270


# ---------------------------------------------------------------------------
# Determinism and replay.


def draw_everything(d):
    alphabet = IntervalSet([(32, 126), (0x400, 0x4FF)])
    out = []
    for _ in range(6):
        out.append(d.draw_integer())
        out.append(d.draw_integer(-5, 5000, shrink_towards=7))
        out.append(d.draw_float())
        out.append(d.draw_float(0.0, 1.0, allow_nan=False))
        out.append(d.draw_string(alphabet, max_size=8))
        out.append(d.draw_bytes(0, 6))
        out.append(d.draw_boolean(0.3))
        out.append(d.choice("abcdef"))
    return out


def same(a, b):
    return len(a) == len(b) and all(
        type(x) is type(y) and (bits_of(x) == bits_of(y) if type(x) is float else x == y) for x, y in zip(a, b)
    )


def test_same_seed_same_sequence():
    assert same(draw_everything(seeded(123)), draw_everything(seeded(123)))
    assert not same(draw_everything(seeded(123)), draw_everything(seeded(124)))


def test_replaying_own_choices_reproduces_values():
    for seed in range(30):
        original = seeded(seed)
        values = draw_everything(original)
        replay = BrindlemarData.for_choices(list(original.choices))
        assert same(draw_everything(replay), values)
        assert replay.misaligned_at is None
        assert replay.length == original.length
        assert same(list(replay.choices), list(original.choices))


def test_short_prefix_overruns():
    d = BrindlemarData.for_choices([3])
    assert d.draw_integer(0, 10) == 3
    e = stop_test_of(d.draw_integer, 0, 10)
    assert e.testcounter == 0
    assert (d.status, d.frozen, len(d.choices)) == (0, True, 1)


def test_empty_choices_overrun_at_once():
    d = BrindlemarData.for_choices([])
    stop_test_of(d.draw_boolean)
    assert d.choices == ()


# ---------------------------------------------------------------------------
# Prefix replay details.


class TestMisaligned:
    def test_wrong_type_gives_simplest_and_advances(self):
        d = BrindlemarData(prefix=[True, 9])
        assert d.draw_integer(3, 10, shrink_towards=5) == 5
        assert d.misaligned_at is True
        assert d.draw_integer(0, 10) == 9  # the cursor moved past True

    def test_int_into_boolean(self):
        d = BrindlemarData(prefix=[1])
        assert d.draw_boolean(0.5) is False
        assert d.misaligned_at is True

    def test_out_of_bounds_float_gives_simplest(self):
        d = BrindlemarData(prefix=[5.0])
        v = d.draw_float(1.0, 2.0, allow_nan=False)
        assert v == 1.0 and d.misaligned_at is True

    def test_fitting_values_are_not_misaligned(self):
        d = BrindlemarData(prefix=[4, 2.5, "ab", b"x", True])
        d.draw_integer(0, 9)
        d.draw_float()
        d.draw_string(IntervalSet([(97, 98)]))
        d.draw_bytes()
        d.draw_boolean()
        assert d.misaligned_at is None


@pytest.mark.parametrize(
    "bounds", [(0, 1000), (-5, 5), (None, 10), (None, None), (-(2**70), 2**70), (2**63 - 2, 2**64)]
)
def test_replay_into_an_integer_strategy_follows_its_constraints(bounds):
    # A strategy's integer draws check a replayed value against their bounds
    # natively; the answer, the simplest value in its place and the size
    # counted must be those of the node's constraints dict.
    for v in [0, 1, -5, 5, 1000, 1001, -(2**63), 2**63 - 1, 2**63, 2**64, 2**70 + 1, True, 1.0]:
        d = BrindlemarData.for_choices([v])
        x = d.draw(_engine.integers(*bounds))
        c = d.nodes[0].constraints
        fits = type(v) is int and _engine.choice_permitted(v, c)
        assert (x is v, d.misaligned_at) == (fits, None if fits else True), v
        assert x == v if fits else x == _engine.choice_from_index(0, "integer", c)
        forced = BrindlemarData()
        forced.draw_integer(forced=x)
        assert d.length == forced.length
        assert d.nodes[0].constraints is c


class TestTemplates:
    def test_counted_template_serves_then_overruns(self):
        d = BrindlemarData(prefix=[Simplest(2), 7])
        assert d.draw_integer(4, 9) == 4
        assert d.draw_string(IntervalSet([(97, 99)]), min_size=2) == "aa"
        stop_test_of(d.draw_integer, 4, 9)
        assert d.status == 0 and len(d.choices) == 2

    @pytest.mark.parametrize("count", [0, -1, -(2**63)])
    def test_spent_count_overruns_at_once(self, count):
        d = BrindlemarData(prefix=[Simplest(count)])
        stop_test_of(d.draw_boolean)
        # and keeps overrunning, the most negative count included
        stop_test_of(d.draw_boolean)
        assert d.choices == ()

    def test_value_then_endless_template(self):
        d = BrindlemarData(prefix=[5, Unlimited(), 99])
        assert d.draw_integer(0, 100) == 5
        assert [d.draw_integer(-3, 100) for _ in range(50)] == [0] * 50

    def test_forced_value_during_template(self):
        d = BrindlemarData(prefix=[Simplest(1)])
        assert d.draw_integer(0, 9, forced=6) == 6
        assert d.nodes[0].was_forced is True

    def test_huge_minimum_overruns_before_building(self):
        # The simplest value of min_size 10**9 would need a gigabyte.
        d = BrindlemarData(prefix=[Unlimited()])
        stop_test_of(d.draw_bytes, 10**9, 10**9)
        d = BrindlemarData(prefix=[Unlimited()])
        stop_test_of(d.draw_string, IntervalSet([(97, 97)]), min_size=10**9)

    def test_simplest_value_past_the_limit_is_recorded_then_overruns(self):
        # Within the 8191 elements an index can build, the simplest value is
        # made and recorded like any other; the limit then ends the test case.
        _engine.set_buffer_limit(10)
        d = BrindlemarData(prefix=[Unlimited()])
        stop_test_of(d.draw_bytes, 20, 30)
        assert d.choices == (bytes(20),) and d.length == 21 and d.status == 0
        d = BrindlemarData(prefix=[b"too short"])
        stop_test_of(d.draw_string, IntervalSet([(97, 98)]), min_size=12)
        assert d.choices == ("a" * 12,) and d.length == 13 and d.misaligned_at is True


def test_forced_during_replay_consumes_the_entry():
    d = BrindlemarData(prefix=[True, 3])
    assert d.draw_integer(0, 9, forced=8) == 8
    assert d.misaligned_at is True  # True did not fit; checked all the same
    assert d.draw_integer(0, 9) == 3
    assert [n.was_forced for n in d.nodes] == [True, False]


def test_unobserved_draw_skips_prefix_and_records_nothing():
    d = seeded(4, prefix=[7])
    v = d.draw_integer(0, 10**9, observe=False)
    assert d.choices == () and d.length == 0
    assert d.draw_integer(0, 10**9) == 7
    assert isinstance(v, int)


# ---------------------------------------------------------------------------
# Forced values, sizes and limits.


def test_forced_values_are_recorded_unchecked():
    d = BrindlemarData()
    assert d.draw_integer(0, 1, forced=50) == 50
    assert d.draw_float(0.0, 1.0, forced=-3.5) == -3.5
    assert d.draw_boolean(0.0, forced=True) is True
    assert d.draw_integer(forced=None) is not None  # None means not forced
    assert [n.was_forced for n in d.nodes] == [True, True, True, False]


@pytest.mark.parametrize(
    "draw, value, size",
    [
        ("integer", 0, 2),
        ("integer", 127, 2),
        ("integer", 128, 3),
        ("integer", 255, 3),
        ("integer", -128, 3),
        ("integer", 2**64, 10),
        ("float", 1.5, 9),
        ("boolean", True, 1),
        ("string", "", 1),
        ("string", "a" * 31, 33),
        ("string", "\u00e9" * 20, 42),
        ("string", "\ud800", 4),
        ("bytes", b"x" * 200, 203),
        ("bytes", b"x" * 8000, 8003),
    ],
)
def test_serialized_sizes(draw, value, size):
    d = BrindlemarData()
    if draw == "string":
        d.draw_string(IntervalSet([(0, 0x10FFFF)]), forced=value)
    else:
        getattr(d, "draw_" + draw)(forced=value)
    assert d.length == size


def test_unsizable_forced_value_counts_one():
    d = BrindlemarData()
    d.draw_integer(forced=object())
    d.draw_integer(forced=[1, 2])
    assert d.length == 2


def test_drawn_string_size_matches_its_encoding():
    d = seeded(9)
    for _ in range(40):
        before = d.length
        s = d.draw_string(IntervalSet([(0, 0x10FFFF)]), max_size=40)
        n = len(s.encode("utf-8", "surrogatepass"))
        assert d.length - before == n + (1 if n < 31 else 2)


def test_max_choices_overruns():
    d = BrindlemarData(max_choices=2)
    d.draw_boolean()
    d.draw_boolean()
    stop_test_of(d.draw_boolean, observe=False)
    d = BrindlemarData(max_choices=0)
    stop_test_of(d.draw_integer)


def test_crossing_the_limit_keeps_the_node():
    _engine.set_buffer_limit(5)
    d = BrindlemarData()
    d.draw_integer(forced=1)  # 2
    stop_test_of(d.draw_bytes, forced=b"abc")  # 4 more: 6 > 5
    assert d.choices == (1, b"abc") and d.length == 6


def test_huge_minimum_sizes_overrun_without_building():
    d = BrindlemarData()
    stop_test_of(d.draw_bytes, 10**9, 10**9)
    d = BrindlemarData()
    stop_test_of(d.draw_string, IntervalSet([(97, 122)]), min_size=10**9)
    d = BrindlemarData()
    stop_test_of(d.draw_bytes, 10**9, 10**9, observe=False)
    # An empty alphabet gives "" whatever the minimum, without overrunning.
    assert BrindlemarData().draw_string(IntervalSet(), min_size=10**9) == ""


# ---------------------------------------------------------------------------
# Weights, choice, string alphabets.


def test_weights():
    d = seeded(3)
    assert {d.draw_integer(0, 10, weights={5: 1.0}) for _ in range(30)} == {5}
    # keys outside the bounds are returned as they are
    assert d.draw_integer(0, 10, weights={99: 1.0}) == 99
    # a total above one never reaches the distribution; leading keys may starve
    assert {d.draw_integer(0, 10, weights={1: 0.5, 2: 1.0}) for _ in range(50)} == {2}
    # half the time the distribution is used
    got = [d.draw_integer(0, 3, weights={7: 0.5}) for _ in range(2000)]
    assert 850 < got.count(7) < 1150
    assert set(got) <= {0, 1, 2, 3, 7}


def test_weights_with_index_keys_and_float_like_weights():
    class Idx:
        def __index__(self):
            return 4

    class Half:
        def __float__(self):
            return 1.0

    d = seeded(3)
    v = d.draw_integer(0, 10, weights={Idx(): Half()})
    assert v == 4 and type(v) is int


def test_weight_errors():
    d = BrindlemarData()
    with pytest.raises(TypeError, match="'list' object cannot be converted to 'PyDict'"):
        d.draw_integer(weights=[1])
    with pytest.raises(TypeError):
        d.draw_integer(weights={"a": 1.0})
    with pytest.raises(TypeError):
        d.draw_integer(weights={1: "x"})
    assert d.choices == ()


def test_choice():
    d = seeded(8)
    values = ["a", "b", "c"]
    assert {d.choice(values) for _ in range(60)} == set(values)
    assert d.choice(values, forced="c") == "c"
    node = d.nodes[-1]
    assert (node.value, node.was_forced, node.constraints["max_value"]) == (2, True, 2)
    with pytest.raises(ValueError):
        d.choice(values, forced="z")
    with pytest.raises(IndexError):
        d.choice([])
    with pytest.raises(TypeError):
        d.choice(5)


def test_choice_forces_tuples_as_single_values():
    # A tuple given as `forced` is one element to look up, never an argument
    # list for values.index.
    d = seeded(8)
    pairs = [(1, 2), (3, 4), ()]
    assert d.choice(pairs, forced=(3, 4)) == (3, 4)
    assert d.choice(pairs, forced=()) == ()
    assert d.choices == (1, 2)
    with pytest.raises(ValueError):
        d.choice(pairs, forced=(3,))


def test_string_alphabet_from_an_object_with_intervals():
    class Alphabet:
        intervals = [(120, 122)]

    d = seeded(2)
    for _ in range(20):
        assert set(d.draw_string(Alphabet(), min_size=1, max_size=5)) <= set("xyz")
    assert isinstance(d.nodes[0].constraints["intervals"], IntervalSet)
    with pytest.raises(AttributeError):
        d.draw_string(object())


def test_large_alphabets_favour_the_first_256_shrink_positions():
    d = seeded(12)
    s = IntervalSet([(0, 100000)])
    chars = "".join(d.draw_string(s, min_size=50, max_size=50) for _ in range(40))
    early = sum(1 for ch in chars if s.index_from_char_in_shrink_order(ch) < 256)
    # 80% expected of 2000 characters
    assert 1450 < early < 1750


# ---------------------------------------------------------------------------
# Bad input: clear exceptions, nothing recorded.


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda d: d.draw_integer(observe=1), TypeError, "argument 'observe'"),
        (lambda d: d.draw_integer(0, "x"), TypeError, None),
        (lambda d: d.draw_float("x"), TypeError, "argument 'min_value'"),
        (lambda d: d.draw_float(allow_nan=1), TypeError, "argument 'allow_nan'"),
        (lambda d: d.draw_float(smallest_nonzero_magnitude=None), TypeError, "smallest_nonzero_magnitude"),
        (lambda d: d.draw_string(IntervalSet(), min_size=-1), OverflowError, None),
        (lambda d: d.draw_string(IntervalSet(), max_size=None), TypeError, "argument 'max_size'"),
        (lambda d: d.draw_bytes("1"), TypeError, "argument 'min_size'"),
        (lambda d: d.draw_bytes(0, 2**64), OverflowError, None),
        (lambda d: d.draw_boolean(None), TypeError, "argument 'p'"),
        (lambda d: d.draw_boolean(0.5, 1), TypeError, None),
        (lambda d: d.draw_integer(1, 2, 3), TypeError, None),
        (lambda d: d.choice(), TypeError, None),
    ],
)
def test_bad_arguments(call, exc, text):
    d = BrindlemarData()
    with pytest.raises(exc) as info:
        call(d)
    if text:
        assert text in str(info.value)
    assert d.choices == () and d.status == 2


def test_float_defaults_and_unbounded_sides():
    d = BrindlemarData(prefix=[Unlimited()])
    assert d.draw_float() == 0.0
    c = d.nodes[0].constraints
    assert c == {
        "min_value": -math.inf,
        "max_value": math.inf,
        "allow_nan": True,
        "smallest_nonzero_magnitude": 5e-324,
    }
    d.draw_bytes()
    assert d.nodes[1].constraints == {"min_size": 0, "max_size": 10000000000}


def test_integer_constraints_are_stored_unchanged():
    w = {3: 0.25}
    d = BrindlemarData()
    d.draw_integer(1, 9, weights=w)
    c = d.nodes[0].constraints
    assert list(c) == ["min_value", "max_value", "weights", "shrink_towards"]
    assert c["weights"] is w and c["shrink_towards"] == 0


def test_frozen_record_still_draws():
    d = BrindlemarData()
    d.freeze()
    assert d.draw_integer(0, 3) in range(4)
    assert len(d.choices) == 1
