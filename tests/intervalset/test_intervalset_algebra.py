import operator
import random

import pytest
from qf_testing import members_of, model_pairs

from quorvantis_fast._engine import IntervalSet

MIN, MAX = -(2**63), 2**63 - 1

# Small blocks of ints at both 64-bit extremes and around zero, so that
# random sets over them hit every boundary of the interval arithmetic.
UNIVERSE = [*range(MIN, MIN + 12), *range(-12, 13), *range(MAX - 11, MAX + 1)]


def random_members(rng, universe=UNIVERSE):
    out = set()
    for _ in range(rng.randrange(0, 5)):
        start = rng.randrange(len(universe))
        run = universe[start : start + rng.randrange(1, 9)]
        out.update(run)
    return out


def is_normalised(pairs):
    return all(a <= b for a, b in pairs) and all(b + 2 <= c for (_, b), (c, _) in zip(pairs, pairs[1:]))


OPERATIONS = [
    ("union", operator.or_, set.union),
    ("intersection", operator.and_, set.intersection),
    ("difference", operator.sub, set.difference),
]


@pytest.mark.parametrize("name, op, model", OPERATIONS, ids=[o[0] for o in OPERATIONS])
def test_set_algebra_matches_python_sets(name, op, model):
    rng = random.Random(20240611)
    for _ in range(400):
        a, b = random_members(rng), random_members(rng)
        sa, sb = IntervalSet(model_pairs(a)), IntervalSet(model_pairs(b))
        result = getattr(sa, name)(sb)
        expected = model(a, b)
        assert members_of(result.intervals) == expected
        assert op(sa, sb) == result
        assert result.size == len(result) == len(expected)
        assert result.intervals == tuple(model_pairs(expected))
        assert is_normalised(result.intervals)
        # Operands are never changed.
        assert sa.intervals == tuple(model_pairs(a)) and sb.intervals == tuple(model_pairs(b))


def test_union_of_unsorted_overlapping_pairs_normalises():
    rng = random.Random(7)
    for _ in range(200):
        raw = [tuple(sorted(rng.sample(range(60), 2))) for _ in range(rng.randrange(1, 6))]
        other = [tuple(sorted(rng.sample(range(60), 2))) for _ in range(rng.randrange(1, 6))]
        result = IntervalSet(raw) | IntervalSet(other)
        assert result.intervals == tuple(model_pairs(members_of(raw) | members_of(other)))


def test_from_string_is_its_distinct_characters():
    rng = random.Random(99)
    alphabet = [chr(c) for c in [*range(0, 300), *range(0xD7F0, 0xD800), *range(0xE000, 0xE010), 0x10FFFF]]
    for _ in range(200):
        text = "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 40)))
        s = IntervalSet.from_string(text)
        assert s.intervals == tuple(model_pairs({ord(c) for c in text}))
    assert IntervalSet.from_string("cabbage").intervals == ((97, 99), (101, 101), (103, 103))
    assert IntervalSet.from_string("") == IntervalSet()


@pytest.mark.parametrize(
    "a, b, union, intersection, difference",
    [
        ([(0, 10)], [(11, 20)], [(0, 20)], [], [(0, 10)]),
        ([(0, 10)], [(3, 4)], [(0, 10)], [(3, 4)], [(0, 2), (5, 10)]),
        ([(0, 10)], [(5, 20)], [(0, 20)], [(5, 10)], [(0, 4)]),
        # Ends at the 64-bit extremes: nothing may wrap around.
        ([(0, 10)], [(5, MAX)], [(0, MAX)], [(5, 10)], [(0, 4)]),
        ([(MIN, 10)], [(MIN, 0)], [(MIN, 10)], [(MIN, 0)], [(1, 10)]),
        ([(MIN + 1, MAX)], [(0, 0)], [(MIN + 1, MAX)], [(0, 0)], [(MIN + 1, -1), (1, MAX)]),
        ([(MAX - 1, MAX)], [(MIN, MIN + 1)], [(MIN, MIN + 1), (MAX - 1, MAX)], [], [(MAX - 1, MAX)]),
        ([(MIN, MIN)], [(MIN + 1, 0)], [(MIN, 0)], [], [(MIN, MIN)]),
        ([(MAX, MAX)], [(0, MAX - 1)], [(0, MAX)], [], [(MAX, MAX)]),
    ],
)
def test_known_results(a, b, union, intersection, difference):
    sa, sb = IntervalSet(a), IntervalSet(b)
    assert (sa | sb).intervals == tuple(union)
    assert (sa & sb).intervals == tuple(intersection)
    assert (sa - sb).intervals == tuple(difference)


def test_empty_operand_keeps_the_other_as_stored():
    raw = IntervalSet([(5, 9), (1, 3)])
    assert (raw | IntervalSet()).intervals == ((5, 9), (1, 3))
    assert (IntervalSet() | raw).intervals == ((5, 9), (1, 3))
    assert (raw - IntervalSet()).intervals == ((5, 9), (1, 3))
    assert (IntervalSet() - raw) == IntervalSet()
    assert (raw & IntervalSet()) == IntervalSet()


def test_binary_operators_defer_to_the_other_operand():
    s = IntervalSet([(1, 2)])

    class Other:
        def __ror__(self, left):
            return "ror"

        def __rsub__(self, left):
            return "rsub"

        def __rand__(self, left):
            return "rand"

    assert (s | Other(), s - Other(), s & Other()) == ("ror", "rsub", "rand")
    assert s.__or__(3) is NotImplemented and s.__rsub__(3) is NotImplemented
    for op in (operator.or_, operator.sub, operator.and_):
        with pytest.raises(TypeError):
            op(s, {1, 2})
        with pytest.raises(TypeError):
            op({1, 2}, s)


@pytest.mark.parametrize("name", ["union", "difference", "intersection"])
def test_named_methods_refuse_other_types(name):
    s = IntervalSet([(1, 2)])
    with pytest.raises(TypeError, match="argument 'other'"):
        getattr(s, name)([(1, 2)])
    with pytest.raises(TypeError):
        getattr(s, name)()
    assert getattr(s, name)(other=IntervalSet([(2, 3)])) == getattr(s, name)(IntervalSet([(2, 3)]))
