"""Native strategies drawn against a record that is not a BrindlemarData.

`upstream_draws` uses the upstream-style record of the test-only layer; the
`Scripted` record here answers from lists and logs every call, so a test sees
exactly what a strategy asked for.
"""

import math
import sys

import pytest
from qf_testing import needs_upstream, upstream_draws

from quorvantis_fast import _engine
from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument

pytestmark = needs_upstream


def stop_test():
    from quorvantis.internal.brindlemar.data import StopTest

    return StopTest


class Scripted:
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

    def draw_float(self, **kwargs):
        self.calls.append(("draw_float", (), kwargs))
        return 0.0

    def mark_invalid(self):
        self.calls.append(("mark_invalid", (), {}))
        if not self.invalid_returns:
            raise stop_test()("invalid")

    def draw(self, strategy):
        self.calls.append(("draw", (strategy,), {}))
        return "drawn by the record"


def within(lo, hi):
    return lambda v: (lo is None or v >= lo) and (hi is None or v <= hi)


class TestScalarsAndChoices:
    @pytest.mark.parametrize("lo, hi", [(None, None), (3, None), (None, -2), (2**80, 2**80 + 2)])
    def test_integers_pass_only_the_bounds_they_have(self, lo, hi):
        data = Scripted(integers=[7])
        st.integers(lo, hi).do_draw(data)
        bounds = {k: v for k, v in (("min_value", lo), ("max_value", hi)) if v is not None}
        assert data.calls == [("draw_integer", (), bounds)]
        values, stopped = upstream_draws(st.integers(lo, hi), 50)
        assert stopped == 0 and all(map(within(lo, hi), values))

    def test_booleans_floats_and_plain_values(self):
        data = Scripted(booleans=[True])
        assert st.booleans().do_draw(data) is True
        st.floats(allow_nan=False, allow_subnormal=False).do_draw(data)
        assert data.calls == [("draw_boolean", (), {"p": 0.5}),
                              ("draw_float", (), {"min_value": -math.inf, "max_value": math.inf, "allow_nan": False,
                                                  "smallest_nonzero_magnitude": sys.float_info.min})]
        assert all(map(within(-2.0, 3.5), upstream_draws(st.floats(-2.0, 3.5), 60)[0]))
        marker = object()
        assert st.just(marker).do_draw(Scripted()) is marker and st.none().do_draw(Scripted()) is None

    def test_indices(self):
        data = Scripted(integers=[0, 4])
        assert st.one_of(st.integers(0, 9), st.none()).do_draw(data) == 4
        assert data.calls[0] == ("draw_integer", (), {"min_value": 0, "max_value": 1})
        data = Scripted(integers=[2])
        assert st.sampled_from(range(5, 0, -2)).do_draw(data) == 1
        assert data.calls == [("draw_integer", (), {"min_value": 0, "max_value": 2})]
        assert set(upstream_draws(st.sampled_from(["x", "y", "z"]), 60)[0]) == {"x", "y", "z"}
        huge = range(-(10**30), 10**30, 7)
        assert all(v in huge for v in upstream_draws(st.sampled_from(huge), 20)[0])
        for huge in (range(10**30, -(10**30), -7), range(2**63, 2**65, 3)):
            count = (abs(huge.stop - huge.start) + abs(huge.step) - 1) // abs(huge.step)
            data = Scripted(integers=[count - 1])
            assert st.sampled_from(huge).do_draw(data) == huge[-1]
            assert data.calls == [("draw_integer", (), {"min_value": 0, "max_value": count - 1})]
        for answer in (3, -1, "0"):
            with pytest.raises((ValueError, OverflowError, TypeError)):
                st.sampled_from([1, 2, 3]).do_draw(Scripted(integers=[answer]))

    @pytest.mark.parametrize("make", [st.nothing, st.one_of])
    def test_empty_choices_mark_the_record_invalid(self, make):
        data = Scripted()
        with pytest.raises(stop_test()):
            make().do_draw(data)
        assert data.calls == [("mark_invalid", (), {})]
        assert make().do_draw(Scripted(invalid_returns=True)) is None


class TestCollections:
    def test_size_choices(self):
        data = Scripted(booleans=[True, True, True, True])
        assert st.lists(st.booleans(), min_size=2, max_size=2).do_draw(data) == [True, True]
        assert all(c[2] == {"p": 0.5} for c in data.calls)  # element draws only
        data = Scripted(booleans=[True, True, True])
        assert st.lists(st.none(), min_size=1, max_size=2).do_draw(data) == [None, None]
        assert [c[2].get("forced") for c in data.calls] == [True, None, False]

    @pytest.mark.parametrize("lo, hi", [(0, 3), (2, 6), (0, None)])
    def test_sizes_and_uniqueness(self, lo, hi):
        for s, check in [
            (st.lists(st.integers(0, 9), min_size=lo, max_size=hi), lambda v: type(v) is list),
            (st.lists(st.integers(0, 50), min_size=lo, max_size=hi, unique_by=lambda x: x % 10), lambda v: len({x % 10 for x in v}) == len(v)),
            (st.lists(st.integers(10, 19), min_size=lo, max_size=hi, unique=True),
             lambda v: len(set(v)) == len(v) <= 10 and set(v) <= set(range(10, 20))),
            (st.frozensets(st.integers(0, 50), min_size=lo, max_size=hi), lambda v: type(v) is frozenset),
            (st.dictionaries(st.integers(0, 50), st.booleans(), min_size=lo, max_size=hi), lambda v: type(v) is dict),
        ]:
            values, stopped = upstream_draws(s, 40)
            assert values and all(lo <= len(v) <= (math.inf if hi is None else hi) and check(v) for v in values), s

    def test_duplicates_and_exhausted_domains(self):
        values, stopped = upstream_draws(st.lists(st.sampled_from(["a", "b", "c", "a"]), min_size=3, unique=True), 20)
        assert stopped == 0 and all(sorted(v) == ["a", "b", "c"] for v in values)
        # Three distinct values cannot fill five places: every draw is invalid.
        few = st.lists(st.sampled_from(["a", "b", "c", "a", "b"]), min_size=5, unique=True)
        assert upstream_draws(few, 5) == ([], 5)
        assert upstream_draws(st.sets(st.just(1), min_size=2, max_size=4), 5) == ([], 5)  # only one distinct element
        assert st.sets(st.just(1), max_size=4).do_draw(Scripted(booleans=[True] * 6 + [False])) == {1}

    def test_misbehaving_records_cannot_loop_forever(self):
        # A mark_invalid that returns, then a record that ignores `forced`.
        assert st.sets(st.just(1), min_size=2, max_size=4).do_draw(Scripted(booleans=[True] * 50, invalid_returns=True)) == {1}
        assert st.lists(st.none(), max_size=3).do_draw(Scripted(booleans=[True] * 10)) == [None] * 3
        with pytest.raises(TypeError):
            st.lists(st.none(), max_size=3).do_draw(Scripted(booleans=[1]))

    def test_text_and_binary(self):
        from quorvantis.internal.intervalsets import IntervalSet

        class Strings(Scripted):
            def draw_string(self, intervals, **kwargs):
                self.calls.append(("draw_string", (intervals,), kwargs))
                return "a"

        data = Strings()
        st.text(_engine.IntervalSet([(97, 99)]), min_size=1, max_size=4).do_draw(data)
        ((_, (intervals,), kwargs),) = data.calls
        assert type(intervals) is IntervalSet and intervals.intervals == ((97, 99),)
        assert kwargs == {"min_size": 1, "max_size": 4}
        assert all(2 <= len(v) <= 3 for v in upstream_draws(st.binary(min_size=2, max_size=3), 20)[0])


class TestCombinators:
    def test_tuples_map_and_filter(self):
        s = st.tuples(st.integers(0, 3), st.integers(0, 3).map(str), st.tuples())
        assert all(0 <= a <= 3 and b in "0123" and c == () for a, b, c in upstream_draws(s, 30)[0])
        rejected = []
        data = Scripted(integers=[1, 2, 3], invalid_returns=True)
        assert st.integers(0, 9).filter(rejected.append).do_draw(data) is None
        assert rejected == [1, 2, 3] and data.calls[-1][0] == "mark_invalid"

    def test_composite_gets_the_records_draw(self):
        def body(draw, extra, *, scale):
            return draw(st.integers(0, 3)) * scale + extra

        assert set(upstream_draws(st._composite_strategy(body, (100,), {"scale": 10}), 30)[0]) <= {100, 110, 120, 130}
        with pytest.raises(TypeError):
            st._composite_strategy(body, [100], {}).do_draw(Scripted())

    def test_children_that_are_not_native_go_through_the_record(self):
        class Mine(_engine.SearchStrategy):
            pass

        assert st.tuples(Mine()).do_draw(Scripted()) == ("drawn by the record",)
        data = Scripted(integers=[4])
        assert st.tuples(st.integers(4, 4).wrapped_strategy).do_draw(data) == (4,)  # typed views inline
        assert [c[0] for c in data.calls] == ["draw_integer"]

    @pytest.mark.parametrize("make", [
        lambda: st.deferred(lambda: st.booleans()), lambda: st.fixed_dictionaries({"a": st.booleans()}),
        lambda: st.characters(max_codepoint=127), lambda: st.booleans().flatmap(st.just), st.dates,
        st.timedeltas, st.uuids, lambda: st.slices(3), lambda: st.integers(2, 1),
    ])
    def test_unsupported_kinds_raise_before_any_call(self, make):
        s = make()
        data = Scripted()
        with pytest.raises(InvalidArgument, match=r"cannot yet be drawn against a real-quorvantis "
                                                  r"BrindlemarData \(interop\)"):
            s.do_draw(data)
        assert data.calls == []

    def test_deep_trees_and_references(self):
        deep = st.integers(0, 1)
        for _ in range(100_000):
            deep = st.tuples(deep)
        with pytest.raises(RecursionError):
            upstream_draws(deep, 1)
        marker = object()
        s = st.lists(st.sampled_from([marker]), max_size=4)
        failing = st.tuples(st.just(marker), st.just(marker).filter(lambda x: False))
        before = sys.getrefcount(marker)
        upstream_draws(s, 200), upstream_draws(failing, 200)
        assert sys.getrefcount(marker) == before
