"""Filters on numbers and dates folded into bounds.

A rewritten filter must keep exactly what plain filtering keeps: the expected
results are worked out here from the predicate itself, by brute force over
the base's values where the base is small.
"""

import datetime
import functools
import math
import operator
import sys
import types

import pytest
from conftest import K, draw_invalid, draws, record
from qf_testing import UPSTREAM, needs_upstream

from quorvantis_fast.errors import InvalidArgument

OPS = [operator.lt, operator.le, operator.eq, operator.ge, operator.gt]


def bound(op, v):
    """``partial(op, v)``: keeps the x with ``v op x``."""
    return functools.partial(op, v)


@pytest.fixture
def fake_bounds(monkeypatch):
    """Replaces the upstream bounds functions with one that answers `answer`."""
    import quorvantis.internal.filtering as filtering

    def install(answer, name="get_integer_predicate_bounds"):
        def fake(predicate):
            if isinstance(answer, BaseException):
                raise answer
            return answer

        monkeypatch.setattr(filtering, name, fake)

    return install


def answer(constraints, predicate=None):
    return types.SimpleNamespace(constraints=constraints, predicate=predicate)


class TestWithoutPredicateKnowledge:
    def test_math_predicates_need_no_upstream(self, B):
        ints = B.integers(0, 10)
        assert ints.filter(math.isfinite) is ints
        for empty in (ints.filter(math.isinf), ints.filter(math.isnan)):
            assert B.kind(empty) == K.Nothing
            draw_invalid(empty)

    @pytest.mark.skipif(UPSTREAM, reason="checks the package alone")
    def test_everything_else_stays_a_plain_filter(self, B):
        for base in (B.integers(0, 10), B.floats(0, 1), B.lists(B.booleans())):
            condition = bound(operator.lt, 3)
            f = base.filter(condition)
            assert B.kind(f) == K.Filter and type(f).__name__ == "SearchStrategy"
            assert f.wrapped_strategy.flat_conditions == (condition,)

    def test_kinds_without_rewriting(self, B):
        for base in (B.booleans(), B.just(3), B.sampled_from([1, 2]), B.plain(K.Times)):
            f = base.filter(bool)
            assert B.kind(f) == K.Filter and f.wrapped_strategy.flat_conditions == (bool,)

    def test_data_strategies_refuse(self, B):
        with pytest.raises(InvalidArgument, match="Cannot call filter on a DataStrategy"):
            B.plain(K.Data).filter(bool)


@needs_upstream
class TestIntegers:
    @pytest.mark.parametrize("op", OPS)
    @pytest.mark.parametrize("v", [-3, 0, 2.5, 4, 10, 25, math.inf, -math.inf, math.nan])
    def test_bounds_keep_exactly_what_the_predicate_keeps(self, B, op, v):
        base = B.integers(0, 10)
        kept = [x for x in range(0, 11) if bound(op, v)(x)]
        s = base.filter(bound(op, v))
        if not kept:
            assert B.kind(s) == K.Nothing
        elif kept == list(range(0, 11)):
            assert s is base
        else:
            view = s.wrapped_strategy
            assert (view.start, view.end) == (kept[0], kept[-1])
            values, invalid = draws(s, 60)
            assert invalid == 0 and set(values) <= set(kept)

    def test_unbounded_sides(self, B):
        s = B.integers(None, None).filter(bound(operator.lt, 5))
        assert (s.wrapped_strategy.start, s.wrapped_strategy.end) == (6, None)
        s = B.integers(None, 100).filter(bound(operator.ge, -(2**80)))
        assert (s.wrapped_strategy.start, s.wrapped_strategy.end) == (None, -(2**80))

    def test_empty_results(self, B):
        # Known bounds that exclude the whole range: nothing at all.
        empty = B.integers(0, 5).filter(bound(operator.lt, 10))
        assert B.kind(empty) == K.Nothing
        draw_invalid(empty)
        # A predicate nobody can read stays a filter over the same base.
        opaque = B.integers(0, 5).filter(lambda x: x > 10)
        assert B.kind(opaque) == K.Filter

    def test_remaining_predicate_filters_the_narrowed_base(self, B, fake_bounds):
        rest = lambda x: x % 2 == 0  # noqa: E731
        fake_bounds(answer({"min_value": 3}, rest))
        s = B.integers(0, 10).filter(lambda x: True)
        view = s.wrapped_strategy
        assert view.flat_conditions == (rest,)
        assert (view.filtered_strategy.start, view.filtered_strategy.end) == (3, 10)

    def test_bounds_that_do_not_narrow_keep_the_receiver(self, B, fake_bounds):
        base = B.integers(0, 10)
        fake_bounds(answer({"min_value": -4, "max_value": 12}))
        assert base.filter(lambda x: True) is base
        rest = lambda x: x != 3  # noqa: E731
        fake_bounds(answer({"max_value": 12}, rest))
        s = base.filter(lambda x: True)
        assert s.wrapped_strategy.flat_conditions == (rest,)
        assert s.wrapped_strategy.filtered_strategy.end == 10

    def test_malformed_answers_raise(self, B, fake_bounds):
        fake_bounds(answer([("min_value", 1)]))
        with pytest.raises(TypeError):
            B.integers(0, 10).filter(bool)
        fake_bounds(answer({"min_value": 1.5}))
        with pytest.raises(TypeError):
            B.integers(0, 10).filter(bool)
        fake_bounds(types.SimpleNamespace(predicate=None))
        with pytest.raises(AttributeError):
            B.integers(0, 10).filter(bool)

    def test_upstream_failures_only_skip_the_rewrite(self, B, fake_bounds, monkeypatch):
        fake_bounds(RuntimeError("upstream broke"))
        assert B.kind(B.integers(0, 10).filter(bool)) == K.Filter
        monkeypatch.setitem(sys.modules, "quorvantis.internal.filtering", None)
        assert B.kind(B.integers(0, 10).filter(bound(operator.lt, 3))) == K.Filter


@needs_upstream
class TestFloats:
    def test_isfinite(self, B):
        s = B.floats(allow_nan=True, allow_infinity=True).filter(math.isfinite)
        view = s.wrapped_strategy
        assert (view.min_value, view.max_value) == (-sys.float_info.max, sys.float_info.max)
        assert all(math.isfinite(v) for v in draws(s, 200)[0])
        # floats(min_value=inf) holds no finite value at all.
        only_inf = B.floats(math.inf, math.inf, allow_infinity=True)
        assert B.kind(only_inf.filter(math.isfinite)) == K.Nothing

    def test_isinf(self, B):
        both = B.floats(allow_infinity=True).filter(math.isinf)
        assert set(draws(both, 60)[0]) == {-math.inf, math.inf}
        lower = B.floats(hi=3.0, allow_infinity=True).filter(math.isinf)
        assert set(draws(lower, 20)[0]) == {-math.inf}
        assert B.kind(B.floats().filter(math.isinf)) == K.Nothing
        assert B.kind(B.floats(0, 1, allow_infinity=True).filter(math.isinf)) == K.Nothing

    def test_isnan(self, B):
        values = draws(B.floats(allow_nan=True).filter(math.isnan), 5)[0]
        assert len(values) == 5 and all(math.isnan(v) for v in values)
        assert B.kind(B.floats().filter(math.isnan)) == K.Nothing

    @pytest.mark.parametrize("op", OPS)
    @pytest.mark.parametrize("v", [-1.5, 0.0, 0.25, 1, 7.5, -math.inf, math.inf])
    def test_draws_satisfy_the_predicate_and_the_base(self, B, op, v):
        s = B.floats(-1.0, 1.0).filter(bound(op, v))
        # Whether any float in [-1, 1] passes: one of the ends, or v itself.
        possible = any(bound(op, v)(x) for x in (-1.0, 1.0, v) if -1.0 <= x <= 1.0)
        if not possible:
            assert B.kind(s) == K.Nothing
            return
        values, invalid = draws(s, 80)
        assert invalid == 0
        assert all(-1.0 <= x <= 1.0 and bound(op, v)(x) for x in values)

    def test_nan_leaves_when_a_bound_is_known(self, B):
        base = B.floats(allow_nan=True, allow_infinity=True)
        s = base.filter(bound(operator.le, -math.inf))  # keeps every non-NaN float
        assert s is not base
        values = draws(s, 300)[0]
        assert not any(math.isnan(v) for v in values)
        assert math.inf in values or -math.inf in values

    def test_infinities_stay_out_when_the_base_left_them_out(self, B):
        base = B.floats()  # no bounds, no infinities
        values = draws(base.filter(bound(operator.le, 5.0)), 300)[0]
        assert values and all(5.0 <= v < math.inf for v in values)
        assert B.kind(base.filter(bound(operator.eq, math.inf))) == K.Nothing

    def test_smallest_nonzero_magnitude(self, B, fake_bounds):
        m = 1e-10
        base = B.floats(-1.0, 1.0, smallest=m)
        fake_bounds(answer({"min_value": m / 2}), "get_float_predicate_bounds")
        assert base.filter(bool).wrapped_strategy.min_value == m
        fake_bounds(answer({"max_value": -m / 2}), "get_float_predicate_bounds")
        assert base.filter(bool).wrapped_strategy.max_value == -m
        fake_bounds(answer({"min_value": -m / 2, "max_value": m / 2}), "get_float_predicate_bounds")
        view = base.filter(bool).wrapped_strategy
        assert (view.min_value, view.max_value) == (0.0, 0.0) and math.copysign(1, view.min_value) < 0

    def test_empty_answers_and_remaining_predicates(self, B, fake_bounds):
        base = B.floats(0.0, 10.0)
        fake_bounds(answer({}, None), "get_float_predicate_bounds")
        assert B.kind(base.filter(bool)) == K.Filter
        rest = lambda x: x != 5.0  # noqa: E731
        fake_bounds(answer({"min_value": 2.0, "max_value": math.nan}, rest), "get_float_predicate_bounds")
        view = base.filter(bool).wrapped_strategy
        assert view.flat_conditions == (rest,)
        assert (view.filtered_strategy.min_value, view.filtered_strategy.max_value) == (2.0, 10.0)
        fake_bounds(answer({"min_value": "low"}), "get_float_predicate_bounds")
        with pytest.raises(TypeError):
            base.filter(bool)


class TestDates:
    LO = datetime.date(2000, 1, 1).toordinal()
    HI = datetime.date(2000, 12, 31).toordinal()

    def bounds_after(self, B, op, day):
        s = B.dates(self.LO, self.HI).filter(functools.partial(op, day))
        if B.kind(s) == K.Nothing:
            return None
        if B.kind(s) == K.Just:
            return record().draw(s)
        return tuple(datetime.date.fromordinal(o) for o in B.dates_bounds(s))

    @pytest.mark.parametrize("op", OPS)
    @pytest.mark.parametrize("day", [datetime.date(1999, 5, 5), datetime.date(2000, 1, 1),
                                     datetime.date(2000, 6, 15), datetime.date(2000, 12, 31),
                                     datetime.date(2001, 2, 2)])
    def test_bounds_keep_exactly_what_the_predicate_keeps(self, B, op, day):
        base_days = [datetime.date.fromordinal(o) for o in range(self.LO, self.HI + 1)]
        kept = [d for d in base_days if op(day, d)]
        got = self.bounds_after(B, op, day)
        if not kept:
            assert got is None
        elif len(kept) == 1:
            assert got == kept[0]
        else:
            assert got == (kept[0], kept[-1])

    def test_unchanged_bounds_give_the_receiver(self, B):
        base = B.dates(self.LO, self.HI)
        assert base.filter(functools.partial(operator.le, datetime.date(1990, 1, 1))) is base

    def test_extreme_days(self, B):
        base = B.dates(1, 3652059)
        assert B.kind(base.filter(functools.partial(operator.lt, datetime.date.max))) == K.Nothing
        assert B.kind(base.filter(functools.partial(operator.gt, datetime.date.min))) == K.Nothing

    def test_dates_with_odd_ordinals(self, B):
        class Odd(datetime.date):
            ordinal = 0

            def toordinal(self):
                return self.ordinal

        day = Odd(2000, 1, 1)
        base = B.dates(self.LO, self.HI)
        day.ordinal = -(2**63)
        assert B.kind(base.filter(functools.partial(operator.gt, day))) == K.Nothing
        assert base.filter(functools.partial(operator.lt, day)) is base
        day.ordinal = 2**70
        with pytest.raises(TypeError):
            base.filter(functools.partial(operator.le, day))

    @pytest.mark.parametrize("condition", [
        functools.partial(operator.lt, datetime.date(2000, 3, 3), datetime.date(2000, 4, 4)),
        functools.partial(operator.lt, day=datetime.date(2000, 3, 3)),
        functools.partial(operator.lt, 5),
        functools.partial(operator.ne, datetime.date(2000, 3, 3)),
        functools.partial(operator.eq, datetime.datetime(2000, 3, 3, 12)),
        lambda d: True,
    ])
    def test_other_predicates_stay_filters(self, B, condition):
        assert B.kind(B.dates(self.LO, self.HI).filter(condition)) == K.Filter


@needs_upstream
def test_non_callable_conditions_stay_filters(B):
    # The upstream answers "no bounds, nothing left" for None; that must not
    # make the filter disappear.
    for base in (B.integers(0, 9), B.floats(0, 1), B.lists(B.booleans())):
        s = base.filter(None)
        assert B.kind(s) == K.Filter
        with pytest.raises(TypeError):
            record().draw(s)


class TestThroughThePublicConstructors:
    def test_a_filter_nothing_satisfies(self):
        from quorvantis_fast import _engine as st

        s = st.integers(0, 5).filter(lambda x: x > 10)
        values, invalid = draws(s, 20)
        assert values == [] and invalid == 20

    def test_math_rewrites_draw_natively(self):
        from quorvantis_fast import _engine as st

        nans = draws(st.floats(allow_nan=True).filter(math.isnan), 10)[0]
        assert len(nans) == 10 and all(math.isnan(v) for v in nans)
        finite = draws(st.floats().filter(math.isfinite), 200)[0]
        assert len(finite) == 200 and all(math.isfinite(v) for v in finite)

    @needs_upstream
    def test_rewritten_strategies_draw_natively(self, B):
        from quorvantis.internal.filtering import min_len

        from quorvantis_fast import _engine as st

        assert B.kind(st.integers(0, 5).filter(bound(operator.lt, 10))) == K.Nothing
        narrowed = st.integers(0, 100).filter(bound(operator.lt, 90))
        assert all(90 < v <= 100 for v in draws(narrowed, 100)[0])
        nonempty = st.lists(st.booleans(), max_size=3).filter(len)
        assert type(nonempty) is st.ListStrategy
        assert all(1 <= len(v) <= 3 for v in draws(nonempty, 100)[0])
        pairs = st.lists(st.integers(0, 9)).map(sorted).filter(functools.partial(min_len, 2))
        got, _ = draws(pairs, 100)
        assert got and all(len(v) >= 2 and v == sorted(v) for v in got)
