import bisect
import itertools
import random

import pytest
from qf_testing import model_pairs

from quorvantis_fast._engine import IntervalSet

MAX = 2**63 - 1


def random_sets(seed, count=150, span=200):
    rng = random.Random(seed)
    for _ in range(count):
        members = {rng.randrange(span) for _ in range(rng.randrange(0, 60))}
        yield sorted(members), IntervalSet(model_pairs(members))


def test_positions_match_the_sorted_members():
    for members, s in random_sets(1):
        assert list(s) == members
        assert [s[i] for i in range(len(members))] == members
        assert [s[-i] for i in range(1, len(members) + 1)] == members[::-1]
        for i, m in enumerate(members):
            assert s.index(m) == i
        for v in range(-5, 210):
            assert s.index_above(v) == bisect.bisect_left(members, v)
            assert (v in s) == (v in members)
            if v not in members:
                with pytest.raises(ValueError, match=f"^{v} is not in list$"):
                    s.index(v)


def test_out_of_range_positions():
    s = IntervalSet([(65, 67)])
    assert s[-1] == 67
    for i, adjusted in [(3, 3), (-4, -1), (2**63 - 1, 2**63 - 1), (-(2**63), -(2**63) + 3)]:
        with pytest.raises(IndexError, match=rf"^Invalid index {adjusted} for \[0, 3\)$"):
            s[i]
    with pytest.raises(IndexError, match=r"^Invalid index 0 for \[0, 0\)$"):
        IntervalSet()[0]
    with pytest.raises(IndexError, match=r"^Invalid index 0 for \[0, 0\)$"):
        IntervalSet().char_in_shrink_order(0)
    with pytest.raises(OverflowError):
        s[2**63]
    with pytest.raises(TypeError, match="argument 'i'"):
        s["0"]


def shrink_order_model(members):
    """'0' up to the first member at or above 'Z', then what lies below '0'
    descending, then the rest ascending."""
    low = [m for m in members if m < 48]
    high = [m for m in members if m >= 48]
    cut = next((k for k, m in enumerate(high) if m >= 90), len(high) - 1)
    return high[: cut + 1] + low[::-1] + high[cut + 1 :]


def test_shrink_order_matches_model_and_inverts():
    for members, s in random_sets(2, span=130):
        order = shrink_order_model(members)
        assert [s.char_in_shrink_order(i) for i in range(len(members))] == [chr(c) for c in order]
        for i, c in enumerate(order):
            assert s.index_from_char_in_shrink_order(chr(c)) == i
            assert s.index_from_char_in_shrink_order(c) == i


def test_shrink_order_examples():
    printable = IntervalSet([(32, 126)])
    assert [printable.char_in_shrink_order(i) for i in (0, 42, 43, 58, 59)] == ["0", "Z", "/", " ", "["]
    below = IntervalSet([(32, 33)])
    assert [below.char_in_shrink_order(i) for i in (0, 1)] == ["!", " "]
    with pytest.raises(ValueError, match="^49 is not in list$"):
        below.index_from_char_in_shrink_order("1")


def test_shrink_order_of_code_points_that_are_not_characters():
    surrogates = IntervalSet([(0xD800, 0xD801)])
    assert surrogates.char_in_shrink_order(1) == "\ud801"
    with pytest.raises(ValueError):
        IntervalSet([(0x110000, 0x110000)]).char_in_shrink_order(0)
    with pytest.raises(ValueError):
        IntervalSet([(-3, -3)]).char_in_shrink_order(0)


def test_membership_of_characters_and_ints():
    s = IntervalSet([(48, 57)])
    assert ("0" in s) == (48 in s) == True  # noqa: E712
    assert "a" not in s and 97 not in s

    class Str(str):
        pass

    assert Str("5") in s
    with pytest.raises(TypeError):
        "00" in s
    with pytest.raises(TypeError):
        "" in s
    with pytest.raises(TypeError):
        5.0 in s
    with pytest.raises(OverflowError):
        2**64 in s


def test_raw_pairs_keep_their_stored_order():
    s = IntervalSet([(5, 9), (1, 3)])
    assert s.intervals == ((5, 9), (1, 3))
    assert list(s) == [5, 6, 7, 8, 9, 1, 2, 3]
    assert 2 in s and 7 in s and 4 not in s
    with pytest.raises(ValueError, match="^2 is not in list$"):
        s.index(2)  # the walk stops at the first interval, which starts above 2
    assert s.index(7) == 2
    assert [s[i] for i in range(len(s))] == [5, 6, 7, 8, 9, 1, 2, 3]


def test_reversed_pairs_hold_nothing():
    s = IntervalSet([(1, 3), (9, 5), (20, 21)])
    assert list(s) == [1, 2, 3, 20, 21]
    assert len(s) == 5 and [s[i] for i in range(5)] == [1, 2, 3, 20, 21]
    assert 9 not in s and 5 not in s
    with pytest.raises(ValueError):
        s.index(9)
    assert s.index(20) == 3 and s.index_above(6) == 3
    assert len(IntervalSet([(5, 4)])) == 0 and not IntervalSet([(5, 4)])


def test_iteration_ends_at_the_largest_64_bit_value():
    top = IntervalSet([(MAX - 2, MAX)])
    assert list(itertools.islice(iter(top), 10)) == [MAX - 2, MAX - 1, MAX]
    both = IntervalSet([(MAX, MAX), (-(2**63), -(2**63) + 1)])
    assert list(itertools.islice(iter(both), 10)) == [MAX, -(2**63), -(2**63) + 1]
    it = iter(top)
    assert iter(it) is it
    assert list(it) == [MAX - 2, MAX - 1, MAX]
    assert next(it, "done") == "done"  # stays exhausted


def test_huge_raw_sets():
    s = IntervalSet([(0, MAX)])
    assert s.size == 2**63
    with pytest.raises(OverflowError):
        len(s)
    assert s[MAX] == MAX and s[-1] == MAX and s[-(2**63)] == 0
    assert s.index(MAX) == MAX and s.index_above(MAX) == MAX
    nearly_all = IntervalSet([(-(2**63) + 1, MAX)])
    assert nearly_all.size == 2**64 - 1
    assert nearly_all[-1] == MAX and nearly_all.index(MAX) == 2**64 - 2
    assert nearly_all.index_above(-(2**63)) == 0 and nearly_all.index_above(MAX) == 2**64 - 2
    # 2**64 members have no 64-bit count: refused instead of wrapping to 0.
    for pairs in ([(-(2**63), MAX)], [(0, MAX), (0, MAX), (0, 1)]):
        with pytest.raises(OverflowError):
            IntervalSet(pairs)
    with pytest.raises(OverflowError):
        IntervalSet([(-(2**63), -1)]) | IntervalSet([(0, MAX)])


def test_empty_set():
    for s in (IntervalSet(), IntervalSet(None), IntervalSet([]), IntervalSet(intervals=None)):
        assert s.size == 0 and len(s) == 0 and not s
        assert repr(s) == "IntervalSet(())"
        assert list(s) == []
        assert all(s.index_above(v) == 0 for v in (-(2**63), 0, 48, MAX))
