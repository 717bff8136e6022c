"""Filters on numbers and dates folded into bounds.

A rewritten filter must keep exactly what plain filtering keeps: the expected
results are worked out from the predicate itself, by brute force over the
base's values.
"""

import datetime
import functools
import math
import operator
import re
import sys
import types

import pytest
from qf_testing import (UPSTREAM, draw_invalid, first_constraints, is_filter, is_nothing, needs_upstream, seeded_draws as draws,
                        seeded_record as record)

from quorvantis_fast import _engine
from quorvantis_fast import _engine as st

OPS = [operator.lt, operator.le, operator.eq, operator.ge, operator.gt]


def bound(op, v):
    """``partial(op, v)``: keeps the x with ``v op x``."""
    return functools.partial(op, v)


@pytest.fixture
def fake_bounds(monkeypatch):
    """Makes the upstream bounds function `name` answer (constraints, predicate),
    or raise when given an exception."""
    import quorvantis.internal.filtering as filtering

    def install(constraints, predicate=None, name="get_integer_predicate_bounds"):
        def fake(condition):
            if isinstance(constraints, BaseException):
                raise constraints
            return types.SimpleNamespace(constraints=constraints, predicate=predicate)

        monkeypatch.setattr(filtering, name, fake)

    return install


def test_math_predicates_need_no_upstream():
    ints = st.integers(0, 10)
    assert ints.filter(math.isfinite) is ints
    for empty in (ints.filter(math.isinf), ints.filter(math.isnan)):
        draw_invalid(empty)
    nans = draws(st.floats(allow_nan=True).filter(math.isnan), 10)[0]
    assert len(nans) == 10 and all(math.isnan(v) for v in nans)
    assert all(math.isfinite(v) for v in draws(st.floats().filter(math.isfinite), 200)[0])


def test_unread_predicates_stay_plain_filters():
    condition = bound(operator.lt, 3) if not UPSTREAM else (lambda x: x > 3)
    for base in (st.integers(0, 10), st.floats(0, 1), st.lists(st.booleans()), st.booleans(), st.times()):
        f = base.filter(condition)
        assert is_filter(f) and f.wrapped_strategy.flat_conditions == (condition,)
    # Nothing satisfies this one, and nothing can tell: every draw is rejected.
    assert draws(st.integers(0, 5).filter(lambda x: x > 10), 20) == ([], 20)


@pytest.mark.skipif(UPSTREAM, reason="checks the package alone")
def test_text_filters_without_the_upstream_library():
    from quorvantis_fast.errors import QuorvantisWarning

    text = st.text(_engine.IntervalSet([(97, 99)]))
    for method in ("match", "search", "fullmatch", "split", "finditer"):
        assert is_filter(text.filter(getattr(re.compile("a"), method)))
    with pytest.warns(QuorvantisWarning, match=r"str\.lower as a filter"):
        assert is_filter(text.filter(str.lower))


@needs_upstream
def test_non_callable_conditions_stay_filters():
    # The upstream answers "no bounds, nothing left" for None; that must not
    # make the filter disappear.
    for base in (st.integers(0, 9), st.floats(0, 1), st.lists(st.booleans())):
        with pytest.raises(TypeError):
            record().draw(base.filter(None))


@needs_upstream
class TestIntegers:
    @pytest.mark.parametrize("op", OPS)
    @pytest.mark.parametrize("v", [-3, 0, 2.5, 4, 10, 25, math.inf, -math.inf, math.nan])
    def test_bounds_keep_exactly_what_the_predicate_keeps(self, op, v):
        base = st.integers(0, 10)
        kept = [x for x in range(0, 11) if bound(op, v)(x)]
        s = base.filter(bound(op, v))
        if not kept:
            draw_invalid(s)
        elif len(kept) == 11:
            assert s is base
        else:
            assert (s.wrapped_strategy.start, s.wrapped_strategy.end) == (kept[0], kept[-1])
            assert set(draws(s, 60)[0]) <= set(kept)

    def test_unbounded_sides(self):
        s = st.integers().filter(bound(operator.lt, 5))
        assert (s.wrapped_strategy.start, s.wrapped_strategy.end) == (6, None)
        s = st.integers(max_value=100).filter(bound(operator.ge, -(2**80)))
        assert (s.wrapped_strategy.start, s.wrapped_strategy.end) == (None, -(2**80))

    def test_remaining_predicates(self, fake_bounds):
        base = st.integers(0, 10)
        rest = lambda x: x % 2 == 0  # noqa: E731
        fake_bounds({"min_value": 3}, rest)
        view = base.filter(bool).wrapped_strategy
        assert view.flat_conditions == (rest,) and (view.filtered_strategy.start, view.filtered_strategy.end) == (3, 10)
        fake_bounds({"min_value": -4, "max_value": 12})
        assert base.filter(bool) is base
        fake_bounds({"max_value": 12}, rest)
        assert base.filter(bool).wrapped_strategy.filtered_strategy.end == 10

    def test_bad_answers(self, fake_bounds, monkeypatch):
        for constraints in ([("min_value", 1)], {"min_value": 1.5}):
            fake_bounds(constraints)
            with pytest.raises(TypeError):
                st.integers(0, 10).filter(bool)
        fake_bounds(RuntimeError("upstream broke"))
        assert is_filter(st.integers(0, 10).filter(bool))
        monkeypatch.setitem(sys.modules, "quorvantis.internal.filtering", None)
        assert is_filter(st.integers(0, 10).filter(bound(operator.lt, 3)))


@needs_upstream
class TestFloats:
    def test_math_predicates(self):
        view = st.floats().filter(math.isfinite).wrapped_strategy
        assert (view.min_value, view.max_value) == (-sys.float_info.max, sys.float_info.max)
        assert is_nothing(st.floats(min_value=math.inf).filter(math.isfinite))
        assert set(draws(st.floats(allow_nan=False).filter(math.isinf), 60)[0]) == {-math.inf, math.inf}
        assert set(draws(st.floats(max_value=3.0).filter(math.isinf), 20)[0]) == {-math.inf}
        finite = st.floats(allow_nan=False, allow_infinity=False)
        for empty in (finite.filter(math.isinf), st.floats(0, 1).filter(math.isinf), finite.filter(math.isnan)):
            assert is_nothing(empty)

    @pytest.mark.parametrize("op", OPS)
    @pytest.mark.parametrize("v", [-1.5, 0.0, 0.25, 1, 7.5, -math.inf, math.inf])
    def test_draws_satisfy_the_predicate_and_the_base(self, op, v):
        s = st.floats(-1.0, 1.0).filter(bound(op, v))
        # Some float of [-1, 1] passes exactly when one of the ends or v does.
        if not any(bound(op, v)(x) for x in (-1.0, 1.0, v) if -1.0 <= x <= 1.0):
            assert is_nothing(s)
            return
        values, invalid = draws(s, 80)
        assert invalid == 0 and all(-1.0 <= x <= 1.0 and bound(op, v)(x) for x in values)

    def test_bounds_never_admit_nan_nor_infinities_the_base_left_out(self):
        values = draws(st.floats().filter(bound(operator.le, -math.inf)), 300)[0]  # x >= -inf
        assert not any(math.isnan(v) for v in values) and math.inf in values + [-v for v in values]
        values = draws(st.floats(allow_infinity=False).filter(bound(operator.le, 5.0)), 300)[0]
        assert values and all(5.0 <= v < math.inf for v in values)
        assert is_nothing(st.floats(allow_infinity=False).filter(bound(operator.eq, math.inf)))

    def test_smallest_nonzero_magnitude_and_answers(self, fake_bounds):
        m = sys.float_info.min
        base = st.floats(-1.0, 1.0, allow_subnormal=False)
        for constraints, expected in [({"min_value": m / 2}, (m, 1.0)), ({"max_value": -m / 2}, (-1.0, -m)),
                                      ({"min_value": -m / 2, "max_value": m / 2}, (-0.0, 0.0)),
                                      ({"min_value": 0.5, "max_value": math.nan}, (0.5, 1.0))]:
            fake_bounds(constraints, name="get_float_predicate_bounds")
            view = base.filter(bool).wrapped_strategy
            assert (view.min_value, view.max_value) == expected
            assert math.copysign(1, view.min_value) == math.copysign(1, expected[0])
        fake_bounds({}, name="get_float_predicate_bounds")
        assert is_filter(base.filter(bool))
        fake_bounds({"min_value": "low"}, name="get_float_predicate_bounds")
        with pytest.raises(TypeError):
            base.filter(bool)


def dates(lo, hi):
    return st.dates(datetime.date.fromordinal(lo), datetime.date.fromordinal(hi))


def first_bounds(s):
    """The bounds of the first choice a draw from `s` makes."""
    c = first_constraints(s)[0]
    return c["min_value"], c["max_value"]


class TestDates:
    LO = datetime.date(2000, 1, 1).toordinal()
    HI = datetime.date(2000, 12, 31).toordinal()

    @pytest.mark.parametrize("op", OPS)
    @pytest.mark.parametrize("day", [datetime.date(1999, 5, 5), datetime.date(2000, 1, 1),
                                     datetime.date(2000, 6, 15), datetime.date(2000, 12, 31),
                                     datetime.date(2001, 2, 2)])
    def test_bounds_keep_exactly_what_the_predicate_keeps(self, op, day):
        base = dates(self.LO, self.HI)
        kept = [o for o in range(self.LO, self.HI + 1) if op(day, datetime.date.fromordinal(o))]
        s = base.filter(functools.partial(op, day))
        if not kept:
            assert is_nothing(s)
        elif len(kept) == 1:
            assert record().draw(s) == datetime.date.fromordinal(kept[0])
        elif len(kept) == self.HI - self.LO + 1:
            assert s is base
        else:
            assert first_bounds(s) == (kept[0], kept[-1])

    def test_extreme_days(self):
        class Odd(datetime.date):
            ordinal = -(2**63)

            def toordinal(self):
                return self.ordinal

        base = st.dates()
        assert is_nothing(base.filter(functools.partial(operator.lt, datetime.date.max)))
        assert is_nothing(base.filter(functools.partial(operator.gt, datetime.date.min)))
        day = Odd(2000, 1, 1)
        assert is_nothing(base.filter(functools.partial(operator.gt, day)))
        day.ordinal = 2**70
        with pytest.raises(TypeError):
            base.filter(functools.partial(operator.le, day))

    @pytest.mark.parametrize("condition", [
        functools.partial(operator.lt, datetime.date(2000, 3, 3), datetime.date(2000, 4, 4)),
        functools.partial(operator.lt, day=datetime.date(2000, 3, 3)),
        functools.partial(operator.lt, 5),
        functools.partial(operator.ne, datetime.date(2000, 3, 3)),
        functools.partial(operator.eq, datetime.datetime(2000, 3, 3, 12)),
    ])
    def test_other_predicates_stay_filters(self, condition):
        assert is_filter(dates(self.LO, self.HI).filter(condition))
