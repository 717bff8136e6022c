"""Native strategies drawn against a record that is not a BrindlemarData.

The record here is the upstream-style one of the test-only upstream layer:
it logs each call, so the tests see exactly what the strategy asked for.
"""

import math

import pytest
from conftest import UNBOUNDED, K
from qf_testing import needs_upstream
from upstream_record import upstream_draws

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument

pytestmark = needs_upstream


def new_record(seed=0, **kwargs):
    from quorvantis.internal.brindlemar.data import BrindlemarData

    return BrindlemarData(seed, **kwargs)


def stop_test():
    from quorvantis.internal.brindlemar.data import StopTest

    return StopTest


def calls_of(strategy, seed=0):
    data = new_record(seed)
    strategy.do_draw(data)
    return data.calls


class Recorder:
    """A record whose methods answer from scripted lists and log their calls."""

    def __init__(self, integers=(), booleans=(), *, invalid_returns=False):
        self.integers, self.booleans = list(integers), list(booleans)
        self.calls = []
        self.invalid_returns = invalid_returns

    def draw_integer(self, *args, **kwargs):
        self.calls.append(("draw_integer", args, kwargs))
        return self.integers.pop(0)

    def draw_boolean(self, **kwargs):
        self.calls.append(("draw_boolean", (), kwargs))
        return self.booleans.pop(0)

    def mark_invalid(self):
        self.calls.append(("mark_invalid", (), {}))
        if not self.invalid_returns:
            raise stop_test()("invalid")

    def draw(self, strategy):
        self.calls.append(("draw", (strategy,), {}))
        return "drawn by the record"


class TestScalars:
    @pytest.mark.parametrize("lo, hi", [(None, None), (3, None), (None, -2), (-5, 5), (2**80, 2**80 + 2)])
    def test_integers_pass_only_the_bounds_they_have(self, B, lo, hi):
        s = B.integers(lo, hi)
        expected = {k: v for k, v in (("min_value", lo), ("max_value", hi)) if v is not None}
        assert calls_of(s) == [("draw_integer", (expected.get("min_value"), expected.get("max_value")), {})]
        data = new_record()
        s.do_draw(data)
        values, stopped = upstream_draws(s, 50)
        assert stopped == 0
        assert all((lo is None or v >= lo) and (hi is None or v <= hi) for v in values)

    def test_integer_keywords(self, B):
        data = Recorder(integers=[7])
        assert B.integers(3, None).do_draw(data) == 7
        assert data.calls == [("draw_integer", (), {"min_value": 3})]
        data = Recorder(integers=[0])
        B.integers(None, None).do_draw(data)
        assert data.calls == [("draw_integer", (), {})]

    def test_booleans_and_floats(self, B):
        assert calls_of(B.booleans()) == [("draw_boolean", (), {"p": 0.5, "forced": None})]
        (call,) = calls_of(B.floats(allow_infinity=True, width=32, smallest=1e-30))
        assert call == ("draw_float", (-math.inf, math.inf),
                        {"allow_nan": False, "smallest_nonzero_magnitude": 1e-30})
        values, _ = upstream_draws(B.floats(-2.0, 3.5), 60)
        assert values and all(-2.0 <= v <= 3.5 for v in values)

    def test_values_without_choices(self, B):
        marker = object()
        data = new_record()
        assert B.just(marker).do_draw(data) is marker
        assert B.none().do_draw(data) is None
        assert data.calls == []


class TestChoosing:
    def test_one_branch_still_asks_for_an_index(self, B):
        data = Recorder(integers=[0, 4])
        assert B.one_of(B.integers(0, 9)).do_draw(data) == 4
        assert data.calls[0] == ("draw_integer", (), {"min_value": 0, "max_value": 0})

    def test_sampled_values_and_ranges(self, B):
        values, _ = upstream_draws(B.sampled_from(["x", "y", "z"]), 60)
        assert set(values) == {"x", "y", "z"}
        data = Recorder(integers=[2])
        assert B.sampled_from_range(range(5, 0, -2)).do_draw(data) == 1
        assert data.calls == [("draw_integer", (), {"min_value": 0, "max_value": 2})]
        values, _ = upstream_draws(B.sampled_from_range(range(5, 0, -2)), 60)
        assert set(values) == {5, 3, 1}

    def test_huge_ranges(self, B):
        r = range(-(10**30), 10**30, 7)
        values, _ = upstream_draws(B.sampled_from_range(r), 20)
        assert values and all(v in r for v in values)

    @pytest.mark.parametrize("make", [
        lambda B: B.nothing(),
        lambda B: B.sampled_from([]),
        lambda B: B.sampled_from_range(range(3, 3)),
        lambda B: B.one_of(),
    ])
    def test_empty_choices_mark_the_record_invalid(self, B, make):
        data = Recorder()
        with pytest.raises(stop_test()):
            make(B).do_draw(data)
        assert data.calls == [("mark_invalid", (), {})]
        assert make(B).do_draw(Recorder(invalid_returns=True)) is None

    @pytest.mark.parametrize("answer", [3, -1, "0"])
    def test_indices_the_record_should_not_give(self, B, answer):
        with pytest.raises((ValueError, OverflowError, TypeError)):
            B.sampled_from([1, 2, 3]).do_draw(Recorder(integers=[answer]))


class TestCollections:
    def test_fixed_size_makes_no_size_choices(self, B):
        data = new_record()
        value = B.lists(B.booleans(), 2, 2).do_draw(data)
        assert len(value) == 2 and [c[0] for c in data.calls] == ["draw_boolean"] * 2
        assert all(c[2]["p"] == 0.5 for c in data.calls)

    def test_size_choices_are_forced_at_the_limits(self, B):
        calls = calls_of(B.lists(B.none(), 1, 2), seed=3)
        assert calls[0][2]["forced"] is True
        data = Recorder(booleans=[True, True, True])
        assert B.lists(B.none(), 1, 2).do_draw(data) == [None, None]
        assert [c[2].get("forced") for c in data.calls] == [True, None, False]

    @pytest.mark.parametrize("lo, hi", [(0, 3), (2, 6), (0, UNBOUNDED)])
    def test_sizes_and_uniqueness(self, B, lo, hi):
        cap = hi if hi < UNBOUNDED else math.inf
        for s, check in [
            (B.lists(B.integers(0, 9), lo, hi), lambda v: type(v) is list),
            (B.lists(B.integers(0, 50), lo, hi, unique_by=lambda x: x % 10), lambda v: len({x % 10 for x in v}) == len(v)),
            (B.lists(B.none(), lo, hi, domain=range(10, 20)), lambda v: len(set(v)) == len(v) and set(v) <= set(range(10, 20))),
            (B.sets(B.integers(0, 50), lo, hi), lambda v: type(v) is set),
            (B.sets(B.integers(0, 50), lo, hi, frozen=True), lambda v: type(v) is frozenset),
            (B.dictionaries(B.integers(0, 50), B.booleans(), lo, hi), lambda v: type(v) is dict),
        ]:
            values, stopped = upstream_draws(s, 40)
            assert len(values) + stopped == 40 and values
            assert all(lo <= len(v) <= cap and check(v) for v in values), s

    def test_unique_by_several_keys(self, B):
        s = B.lists(B.tuples(B.integers(0, 2), B.integers(0, 2)), 0, 5,
                    unique_by=(lambda t: t[0], lambda t: t[1]))
        for v in upstream_draws(s, 40)[0]:
            assert len({t[0] for t in v}) == len(v) == len({t[1] for t in v})

    def test_an_exhausted_domain_ends_the_list(self, B):
        values, stopped = upstream_draws(B.lists(B.none(), 5, 8, domain=["a", "b", "c"]), 20)
        assert stopped == 0 and all(sorted(v) == ["a", "b", "c"] for v in values)
        assert B.lists(B.none(), 1, 3, domain=[]).do_draw(Recorder()) == []

    def test_too_many_duplicates_end_the_collection(self, B):
        # Only one distinct element exists, so a set of two cannot be made.
        data = new_record()
        with pytest.raises(stop_test()):
            B.sets(B.just(1), 2, 4).do_draw(data)
        assert data.invalid
        # Below the minimum no more: the set just stops.
        assert B.sets(B.just(1), 0, 4).do_draw(Recorder(booleans=[True] * 6 + [False])) == {1}

    def test_misbehaving_records_cannot_loop_forever(self, B):
        # mark_invalid that returns, then a record that ignores `forced`.
        forever = Recorder(booleans=[True] * 50, invalid_returns=True)
        assert B.sets(B.just(1), 2, 4).do_draw(forever) == {1}
        assert B.lists(B.none(), 0, 3).do_draw(Recorder(booleans=[True] * 10)) == [None] * 3
        with pytest.raises(TypeError):
            B.lists(B.none(), 0, 3).do_draw(Recorder(booleans=[1]))

    def test_text_and_binary(self, B):
        alphabet = _engine.IntervalSet([(ord("a"), ord("c"))])
        ((name, (intervals,), kwargs),) = calls_of(B.text(alphabet, 1, 4))
        from quorvantis.internal.intervalsets import IntervalSet

        assert name == "draw_string" and kwargs == {"min_size": 1, "max_size": 4}
        assert type(intervals) is IntervalSet and intervals.intervals == ((97, 99),)
        values, _ = upstream_draws(B.text(alphabet, 1, 4), 40)
        assert all(1 <= len(v) <= 4 and set(v) <= set("abc") for v in values)
        assert calls_of(B.binary(2, 3)) == [("draw_bytes", (), {"min_size": 2, "max_size": 3})]
        assert all(2 <= len(v) <= 3 for v in upstream_draws(B.binary(2, 3), 20)[0])


class TestCombinators:
    def test_tuples_map_and_shared(self, B):
        s = B.tuples(B.integers(0, 3), B.map_node(B.integers(0, 3), str), B.tuples())
        for a, b, c in upstream_draws(s, 30)[0]:
            assert 0 <= a <= 3 and b in "0123" and c == ()
        shared = B.shared("k", B.integers(0, 10**9))
        data = new_record()
        first, second = shared.do_draw(data), shared.do_draw(data)
        assert first != second and not hasattr(data, "__shared__k")

    def test_filter_tries_three_times(self, B):
        rejected = []
        s = B.filter_node(B.integers(0, 9), lambda x: rejected.append(x))
        data = Recorder(integers=[1, 2, 3], invalid_returns=True)
        assert s.do_draw(data) is None
        assert rejected == [1, 2, 3] and data.calls[-1][0] == "mark_invalid"
        values, _ = upstream_draws(B.filter_node(B.integers(0, 9), lambda x: x % 2), 40)
        assert values and all(v % 2 for v in values)

    def test_composite_gets_the_records_draw(self, B):
        def body(draw, extra, *, scale):
            return draw(B.integers(0, 3)) * scale + extra

        data = new_record()
        value = B.composite(body, (100,), {"scale": 10}).do_draw(data)
        assert value in {100, 110, 120, 130}
        with pytest.raises(TypeError):
            B.composite(body, [100], {}).do_draw(new_record())

    def test_children_that_are_not_native_go_through_the_record(self, B):
        class Mine(_engine.SearchStrategy):
            pass

        data = Recorder(integers=[0, 0])
        assert B.one_of(Mine()).do_draw(data) == "drawn by the record"
        view = B.integers(4, 4).wrapped_strategy
        data = Recorder(integers=[0, 4])
        assert B.one_of(view).do_draw(data) == 4  # typed views are drawn inline
        assert [c[0] for c in data.calls] == ["draw_integer", "draw_integer"]

    @pytest.mark.parametrize("kind", ["Deferred", "FixedDictionaries", "Characters", "FlatMap", "Dates",
                                      "Times", "Datetimes", "Timedeltas", "Uuids", "Slices", "Invalid"])
    def test_unsupported_kinds_raise_before_any_call(self, B, kind):
        s = {
            "Deferred": lambda: B.deferred(lambda: B.booleans()),
            "FixedDictionaries": lambda: B.fixed_dictionaries([("a", B.booleans())]),
            "Characters": lambda: B.characters(_engine.IntervalSet([(97, 98)]), "characters()"),
            "FlatMap": lambda: B.flatmap_node(B.booleans(), lambda b: B.just(b)),
            "Invalid": lambda: B.invalid("stored"),
        }.get(kind, lambda: B.plain(getattr(K, kind)))()
        data = Recorder()
        with pytest.raises(InvalidArgument, match=r"cannot yet be drawn against a real-quorvantis BrindlemarData \(interop\)"):
            s.do_draw(data)
        assert data.calls == []

    def test_record_draw_of_a_native_strategy_and_deep_trees(self, B):
        data = new_record()
        assert data.draw(B.integers(5, 5)) == 5
        deep = B.integers(0, 1)
        for _ in range(100_000):
            deep = B.tuples(deep)
        with pytest.raises(RecursionError):
            deep.do_draw(new_record())


def test_draws_release_what_they_hold(B):
    import sys

    marker = object()
    s = B.lists(B.sampled_from([marker]), 0, 4)
    failing = B.tuples(B.just(marker), B.filter_node(B.just(marker), lambda x: False))
    before = sys.getrefcount(marker)
    for seed in range(200):
        s.do_draw(new_record(seed))
        with pytest.raises(stop_test()):
            failing.do_draw(new_record(seed))
    assert sys.getrefcount(marker) == before
