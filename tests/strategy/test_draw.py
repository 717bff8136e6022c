"""The draw interpreter: every kind drawn natively satisfies its arguments."""

import math
import struct
import sys
import typing

import pytest
from qf_testing import UNRESOLVABLE, Unresolvable, draw_invalid, first_constraints, seeded_draws as draws, seeded_record as record

from quorvantis_fast import _engine, control
from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed, StopTest


class TestScalars:
    @pytest.mark.parametrize("lo, hi", [(-5, 5), (0, 0), (2**70, 2**70 + 3), (-(2**65), -(2**65) + 300)])
    def test_bounded_integers_stay_in_bounds(self, lo, hi):
        values, invalid = draws(st.integers(lo, hi))
        assert invalid == 0
        assert all(lo <= v <= hi and type(v) is int for v in values)
        assert len(set(values)) >= min(hi - lo + 1, 2)

    def test_half_bounded_integers(self):
        assert all(v >= 10 for v in draws(st.integers(10, None))[0])
        assert all(v <= -3 for v in draws(st.integers(None, -3))[0])

    def test_weights_only_for_spans_above_127(self):
        assert first_constraints(st.integers(0, 127))[0]["weights"] is None
        assert first_constraints(st.integers(5, None))[0]["weights"] is None
        weights = first_constraints(st.integers(0, 128))[0]["weights"]
        assert list(weights.items()) == [(0, 1 / 64), (1, 1 / 128), (127, 1 / 128), (128, 1 / 64)]

    def test_booleans(self):
        values, _ = draws(st.booleans(), 100)
        assert set(values) == {True, False}
        assert first_constraints(st.booleans()) == [{"p": 0.5}]

    @pytest.mark.parametrize("width, fmt, top", [(16, "e", 65504.0), (32, "f", 3.4028234663852886e38)])
    def test_narrow_floats_are_representable_and_in_range(self, width, fmt, top):
        values, _ = draws(st.floats(width=width, allow_nan=False, allow_infinity=False), 400)
        for v in values:
            assert -top <= v <= top
            assert struct.unpack(fmt, struct.pack(fmt, v))[0] == v
        (c,) = first_constraints(st.floats(width=width, allow_nan=False, allow_infinity=False))
        assert (c["min_value"], c["max_value"]) == (-top, top)

    def test_floats_respect_bounds_and_flags(self):
        values, _ = draws(st.floats(-1.5, 2.25), 300)
        assert all(-1.5 <= v <= 2.25 for v in values)
        (c,) = first_constraints(st.floats(allow_subnormal=False))
        assert (c["min_value"], c["max_value"]) == (-math.inf, math.inf)
        assert c["allow_nan"] is True and c["smallest_nonzero_magnitude"] == sys.float_info.min

    def test_values_that_draw_nothing(self):
        marker = object()
        data = record()
        assert data.draw(st.none()) is None
        assert data.draw(st.just(marker)) is marker
        assert data.choices == ()
        draw_invalid(st.nothing())

    def test_text_and_characters(self):
        alphabet = _engine.IntervalSet([(97, 99), (0x3B1, 0x3B1)])
        allowed = set("abc\u03b1")
        values, _ = draws(st.text(alphabet, min_size=2, max_size=4), 200)
        assert all(2 <= len(v) <= 4 and set(v) <= allowed for v in values)
        chars, _ = draws(st.characters(categories=[], include_characters="abc\u03b1"), 200)
        assert all(len(c) == 1 and c in allowed for c in chars)


class TestSampling:
    def test_sampled_from_returns_the_stored_objects(self):
        items = [object(), object(), object()]
        values, _ = draws(st.sampled_from(items), 100)
        assert all(any(v is x for x in items) for v in values)
        assert len({id(v) for v in values}) == 3

    def test_single_value_still_draws_an_index(self):
        (c,) = first_constraints(st.sampled_from(["only"]))
        assert (c["min_value"], c["max_value"]) == (0, 0)

    def test_strategies_are_sampled_not_drawn_and_reported(self):
        inner = [st.just(1), st.just(2)]
        control._take_strategy_samples()
        values, _ = draws(st.sampled_from(inner), 20)
        assert all(v is inner[0] or v is inner[1] for v in values)
        assert control._take_strategy_samples()[0] == tuple(inner)

    @pytest.mark.parametrize("r", [range(5, 50, 5), range(5, 0, -2), range(2**70, 2**70 + 7, 3)])
    def test_ranges(self, r):
        values, _ = draws(st.sampled_from(r), 100)
        assert set(values) == set(r)

    @pytest.mark.parametrize("r", [range(-(10**30), 10**30), range(10**30, -(10**30), -7),
                                   range(2**63, 2**65, 3)])
    def test_ranges_longer_than_len_can_count(self, r):
        count = (abs(r.stop - r.start) + abs(r.step) - 1) // abs(r.step)
        (c,) = first_constraints(st.sampled_from(r))
        assert (c["min_value"], c["max_value"]) == (0, count - 1)
        values, invalid = draws(st.sampled_from(r), 50)
        assert invalid == 0 and len(set(values)) > 1 and all(v in r for v in values)
        assert _engine.BrindlemarData.for_choices([count - 1]).draw(st.sampled_from(r)) == r[-1]
        assert _engine.BrindlemarData.for_choices([0]).draw(st.sampled_from(r)) == r.start

    def test_empty_one_of_marks_invalid(self):
        draw_invalid(st.one_of())

    def test_one_of_picks_among_branches(self):
        values, _ = draws(st.one_of(st.just(1), st.just(2)), 60)
        assert set(values) == {1, 2}
        (c,) = first_constraints(st.one_of(st.just("x"), st.just("y"), st.just("z")))
        assert (c["min_value"], c["max_value"]) == (0, 2)

    def test_tuples(self):
        data = record()
        assert data.draw(st.tuples()) == () and data.choices == ()
        values, _ = draws(st.tuples(st.integers(0, 3), st.booleans(), st.just("k")), 50)
        assert all(0 <= a <= 3 and type(b) is bool and c == "k" for a, b, c in values)


class TestLists:
    @pytest.mark.parametrize("lo, hi", [(0, 3), (2, 4), (5, 5), (0, None)])
    def test_sizes(self, lo, hi):
        values, _ = draws(st.lists(st.booleans(), min_size=lo, max_size=hi), 200)
        assert all(lo <= len(v) <= (math.inf if hi is None else hi) for v in values)

    @pytest.mark.parametrize("lo, hi, p", [
        (0, 1, 0.5), (2, 4, 0.6171875), (1, 3, 0.6171875), (0, 5, 0.7767857142857144),
        (0, 10, 0.8684895833333334), (10, 20, 0.8684895833333334), (0, 100, 0.8333333333333334),
        (0, None, 0.8332333333333334),
    ])
    def test_continue_probability(self, lo, hi, p):
        data = record()
        data.draw(st.lists(st.just(0), min_size=lo, max_size=hi))
        ps = {n.constraints["p"] for n in data.nodes}
        assert ps == {p}

    def test_fixed_size_makes_no_size_choices(self):
        data = record()
        assert len(data.draw(st.lists(st.booleans(), min_size=3, max_size=3))) == 3
        assert len(data.nodes) == 3

    def test_forced_continues_below_min_size(self):
        data = record()
        data.draw(st.lists(st.just(0), min_size=2, max_size=4))
        assert [n.was_forced for n in data.nodes[:2]] == [True, True]

    def test_unique_domain(self):
        values, _ = draws(st.lists(st.integers(0, 3), max_size=4, unique=True))
        assert all(len(v) == len(set(v)) and set(v) <= {0, 1, 2, 3} for v in values)
        assert max(len(v) for v in values) == 4

    def test_domain_without_enough_distinct_values_is_invalid(self):
        # Three stored values, two distinct: a list of three unique ones
        # cannot exist, so no draw may return a shorter one.
        s = st.lists(st.sampled_from([1, 1, 2]), min_size=3, max_size=3, unique=True)
        values, invalid = draws(s, 50)
        assert values == [] and invalid == 50
        values, _ = draws(st.lists(st.sampled_from([1, 1, 2]), min_size=2, max_size=3, unique=True))
        assert values and all(sorted(v) == [1, 2] for v in values)

    def test_unique_by_keys(self):
        values, _ = draws(st.lists(st.integers(0, 9), max_size=6, unique_by=lambda x: x % 3), 200)
        assert all(len({x % 3 for x in v}) == len(v) for v in values)
        assert max(len(v) for v in values) == 3

    def test_later_keys_are_not_computed_after_a_repeat(self):
        seen = []
        s = st.lists(st.integers(0, 9), max_size=5, unique_by=(lambda x: 0, seen.append))
        values, _ = draws(s, 50)
        assert all(len(v) <= 1 for v in values)
        assert len(seen) == sum(len(v) for v in values)

    @pytest.mark.parametrize("min_size", [0, 1, 2])
    def test_fourth_rejection_stops_or_ends_the_collection(self, min_size):
        # One kept element, then four repeats: the fourth rejection is the
        # first above max(3, 2 * 1), with one element kept.
        keys = []
        s = st.lists(st.integers(0, 9), min_size=min_size, max_size=10, unique_by=lambda x: keys.append(x) or 0)
        data = record(prefix=[True, 1, True, 2, True, 3, True, 4, True, 5, True, 6])
        if min_size <= 1:
            assert data.draw(s) == [1]
            assert data.nodes[-1].value is False and data.nodes[-1].was_forced
        else:
            with pytest.raises(StopTest):
                data.draw(s)
            assert data.status == 1
        assert keys == [1, 2, 3, 4, 5]

    def test_rejections_below_min_size_mark_invalid(self):
        draw_invalid(st.lists(st.just(1), min_size=2, max_size=5, unique_by=lambda x: x))


class TestCombinators:
    def test_map_and_flatmap(self):
        values, _ = draws(st.integers(0, 5).map(lambda n: n * 10), 50)
        assert all(v % 10 == 0 and 0 <= v <= 50 for v in values)
        nested = st.integers(1, 3).flatmap(lambda n: st.lists(st.just(n), min_size=n, max_size=n))
        assert all(v == [len(v)] * len(v) for v in draws(nested, 50)[0])

    def test_errors_of_user_callables_pass_through(self):
        def boom(x):
            raise KeyError("pack")

        with pytest.raises(KeyError):
            record().draw(st.integers(0, 1).map(boom))
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 3 \(type=int\)$"):
            record().draw(st.just(1).flatmap(lambda x: 3))

    def test_map_reports_to_a_final_build_context(self, upstream):
        from quorvantis.control import BuildContext

        pack = str
        data = record()
        with BuildContext(data, wrapped_test=None, is_final=True) as ctx:
            value = data.draw(st.just(7).map(pack))
        assert ctx.calls == [(value, pack, [7], {})]
        with BuildContext(data, wrapped_test=None) as ctx:
            record().draw(st.just(7).map(pack))
        assert ctx.calls == []

    def test_stored_errors(self):
        with pytest.raises(InvalidArgument, match="^min_value=2 cannot be greater than max_value=1$") as info:
            record().draw(st.lists(st.integers(2, 1)))
        assert type(info.value) is InvalidArgument
        with pytest.raises(ResolutionFailed) as info:
            record().draw(st.from_type(Unresolvable))
        assert str(info.value) == UNRESOLVABLE

    def test_shared_values_live_in_the_record(self):
        # A type variable is one type per test case, shared by its uses.
        s = st.from_type(typing.TypeVar("T"))
        data = record(3)
        a, b = data.draw(st.tuples(s, s))
        assert type(a) is type(b) is data.__dict__["__shared__typevar=~T"]
        assert len({type(record(seed).draw(s)) for seed in range(30)}) > 1


class TestDeferred:
    def test_draws_the_definition(self):
        assert record().draw(st.deferred(lambda: st.just(5))) == 5

    @pytest.mark.parametrize("definition, message", [
        (3, r"^deferred\(\) was passed a non-callable definition 3$"),
        (lambda: 3, r"^Expected a SearchStrategy but got 3 \(type=int\)$"),
    ])
    def test_misuse(self, definition, message):
        with pytest.raises(InvalidArgument, match=message):
            record().draw(st.deferred(definition))

    def test_defined_as_itself(self):
        def definition():
            return st.deferred(definition)

        with pytest.raises(InvalidArgument, match="^Cannot define a deferred strategy to be itself$"):
            record().draw(st.deferred(definition))

    def test_nesting_stops_at_depth_100_and_is_restored(self):
        calls = []

        def definition():
            calls.append(1)
            return st.tuples(s)

        s = st.deferred(definition)
        for _ in range(2):
            calls.clear()
            draw_invalid(s)
            assert len(calls) == 101
        assert record().draw(st.deferred(lambda: st.just(1))) == 1

    def test_python_subclass_result_uses_its_own_draw(self):
        class Seven(_engine.SearchStrategy):
            def do_draw(self, data):
                return 7

        assert record().draw(st.deferred(Seven)) == 7


class TestChildren:
    def test_python_subclass_child_goes_through_the_record(self):
        seen = []

        class Probe(_engine.SearchStrategy):
            def do_draw(self, data):
                seen.append(data)
                return data.draw(st.integers(0, 3))

        data = record()
        value = data.draw(st.tuples(Probe(), st.just(1)))
        assert seen == [data] and 0 <= value[0] <= 3

    def test_typed_views_are_drawn_inline(self):
        view = st.integers(0, 3).map(str).wrapped_strategy
        assert type(view) is _engine.MappedStrategy
        values, _ = draws(st.lists(view, min_size=1, max_size=3), 50)
        assert all(x in "0123" for v in values for x in v)

    def test_foreign_child_is_drawn_by_its_own_method(self, foreign):
        class Foreign(foreign):
            def do_draw(self, data):
                return data.draw(st.just("inner"))

        assert record().draw(st.tuples(Foreign())) == ("inner",)

    def test_a_child_that_is_no_strategy_says_so(self, no_upstream):
        for s in [st._composite_strategy(lambda draw: draw(5), (), {}), st.builds(dict, a=5),
                  st.recursive(st.nothing(), lambda s: 5, max_leaves=1)]:
            with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 5 \(type=int\)$"):
                _engine.BrindlemarData.for_choices([1]).draw(s)
        looks = type("Looks", (), {"do_draw": None})()
        with pytest.raises(InvalidArgument, match="looks like a strategy of the quorvantis library, which is not installed$"):
            record().draw(st.builds(dict, a=looks))

    def test_do_draw_on_a_native_record(self):
        data = record()
        assert st.tuples(st.just(1), st.just(2)).do_draw(data) == (1, 2)
        with pytest.raises(StopTest):
            st.nothing().do_draw(data)
