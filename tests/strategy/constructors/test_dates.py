"""dates(), times(), datetimes() and timedeltas(): bounds, the choices behind
each value, the injected days, argument errors and shrinking."""

import collections
import datetime as dt

import pytest

from qf_testing import draws, minimal, random_record as record, recorded, replay
from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument, StopTest

UTC = dt.timezone.utc
PLUS5 = dt.timezone(dt.timedelta(hours=5))
Y2K = dt.date(2000, 1, 1).toordinal()
E = _engine


@pytest.mark.parametrize("fn, lo, hi, cls", [
    (E.dates, None, None, dt.date),
    (E.dates, dt.date(2019, 6, 1), dt.date(2021, 6, 1), dt.date),
    (E.dates, dt.datetime(2000, 5, 5, 12), dt.datetime(2000, 5, 7), dt.date),  # datetimes pass as dates
    (E.times, dt.time(10, 0, 0, 1), dt.time(10, 0, 0, 3), dt.time),
    (E.times, dt.time(1, tzinfo=UTC), dt.time(2, 30, tzinfo=UTC), dt.time),  # naive values, aware bounds
    (E.datetimes, dt.datetime(2000, 1, 1, 23, 59, 59), dt.datetime(2000, 1, 3, 0, 0, 1), dt.datetime),
    (E.datetimes, dt.datetime(2021, 3, 4, 5, 6, 7, 8), dt.datetime(2021, 3, 4, 5, 6, 7, 12), dt.datetime),
    (E.timedeltas, dt.timedelta(days=-3, microseconds=7), dt.timedelta(days=2, seconds=5), dt.timedelta),
    (E.timedeltas, dt.timedelta.max - dt.timedelta(microseconds=5), None, dt.timedelta),
])
def test_values_within_bounds(fn, lo, hi, cls):
    lo_v = getattr(cls, "min") if lo is None else lo
    hi_v = getattr(cls, "max") if hi is None else hi
    if cls is dt.date:
        lo_v, hi_v = lo_v.toordinal(), hi_v.toordinal()
    if cls is dt.time:
        lo_v, hi_v = lo_v.replace(tzinfo=None), hi_v.replace(tzinfo=None)
    for v in draws(fn(lo, hi), n=200):
        assert type(v) is cls and getattr(v, "tzinfo", None) is None
        assert lo_v <= (v.toordinal() if cls is dt.date else v) <= hi_v


def test_first_and_last_day_keep_the_time_of_day_of_the_bounds():
    lo, hi = dt.datetime(2000, 1, 1, 23, 59, 59), dt.datetime(2000, 1, 3, 0, 0, 1)
    s = E.datetimes(lo, hi)
    assert {v.date() for v in draws(s, n=600)} == {lo.date(), dt.date(2000, 1, 2), hi.date()}
    # A replayed time of day outside the day's bounds is replaced by the
    # simplest one within them.
    assert replay(s, [lo.toordinal(), 0, False]) == lo
    assert replay(s, [hi.toordinal(), 86399999999, False]) == dt.datetime(2000, 1, 3)


def test_replayed_choices():
    ordinals = {1, 59, 60, 365, 366, Y2K - 1, Y2K, dt.date.max.toordinal()}
    for year in (4, 100, 400, 1900, 2000, 2100, 9996):
        ordinals |= {dt.date(year, 2, 28).toordinal(), dt.date(year, 3, 1).toordinal(), dt.date(year, 12, 31).toordinal()}
    ordinals |= set(range(1, dt.date.max.toordinal(), 9973))
    for o in ordinals:
        assert replay(E.dates(), [o]) == dt.date.fromordinal(o)
    us = ((1 * 60 + 2) * 60 + 3) * 1_000_000 + 4
    assert replay(E.times(), [us, True]) == dt.time(1, 2, 3, 4, fold=1)
    assert replay(E.times(), [86399999999, False]) == dt.time.max
    assert replay(E.datetimes(), [Y2K, us, True]) == dt.datetime(2000, 1, 1, 1, 2, 3, 4, fold=1)
    # timedeltas: a day, then a microsecond of that day within the bounds.
    s = E.timedeltas(dt.timedelta(microseconds=-1), dt.timedelta(0))
    assert replay(s, [-1, 86399999999]) == dt.timedelta(microseconds=-1) and replay(s, [0, 0]) == dt.timedelta(0)
    assert set(draws(s, n=50)) == {dt.timedelta(microseconds=-1), dt.timedelta(0)}


def test_choices_and_their_shrink_targets():
    def shape(s):
        _, nodes = recorded(s)
        return [(n.type, n.constraints.get("shrink_towards")) for n in nodes]

    assert shape(E.dates()) == [("integer", Y2K)]
    assert shape(E.times()) == [("integer", 0), ("boolean", None)]
    assert shape(E.datetimes()) == [("integer", Y2K), ("integer", 0), ("boolean", None)]
    assert shape(E.timedeltas()) == [("integer", 0), ("integer", 0)]
    assert {v.fold for v in draws(E.times(), n=50)} == {0, 1}


def frequent(values, at_least=30):
    return {v for v, k in collections.Counter(values).items() if k >= at_least}


def test_injected_days():
    # Each candidate comes up about 0.15 / (number of candidates) of the
    # time, an ordinary day a few times in 3000 at most.
    lo, hi = dt.date(2019, 6, 1), dt.date(2021, 6, 1)
    assert frequent(draws(E.dates(lo, hi), n=3000, first_seed=1000003)) == {
        lo, hi, dt.date(2019, 12, 31), dt.date(2020, 2, 29), dt.date(2020, 1, 1), dt.date(2020, 12, 31),
        dt.date(2021, 1, 1)}
    assert frequent(draws(E.dates(), n=3000, first_seed=2000006)) == {dt.date.min, dt.date.max, dt.date(2000, 1, 1)}
    days = [v.date() for v in draws(E.datetimes(), n=3000, first_seed=3000009)]
    assert frequent(days) == {dt.date.min, dt.date.max, dt.date(2000, 1, 1)}


def test_injected_days_are_gone_after_each_day_draw():
    for seed in range(30):
        record(seed).draw(E.dates())
        with pytest.raises(StopTest):  # runs out of choices in the day draw
            E.BrindlemarData.for_choices([]).draw(E.dates())
    # Left behind, 2000-01-01 would come up about one draw in twenty.
    for seed in range(500):
        assert record(seed).draw_integer(1, 3652059) != Y2K
    assert all(v.days != Y2K for v in draws(E.timedeltas(dt.timedelta(0), dt.timedelta(days=3652059)), n=1000))


@pytest.mark.parametrize("fn, kw, message", [
    (E.dates, dict(min_value=dt.date(2000, 1, 2), max_value=dt.date(2000, 1, 1)),
     "Cannot have max_value=datetime.date(2000, 1, 1) < min_value=datetime.date(2000, 1, 2)"),
    (E.timedeltas, dict(min_value=dt.timedelta(1), max_value=dt.timedelta(0)),
     "Cannot have max_value=datetime.timedelta(0) < min_value=datetime.timedelta(days=1)"),
    (E.dates, dict(min_value="2000"), "Expected min_value to be a datetime.date, but got '2000'"),
    (E.times, dict(min_value=dt.datetime(2000, 1, 1)),
     "Expected min_value to be a datetime.time, but got datetime.datetime(2000, 1, 1, 0, 0)"),
    (E.datetimes, dict(max_value=dt.date(2000, 1, 1)),
     "Expected max_value to be a datetime.datetime, but got datetime.date(2000, 1, 1)"),
    (E.timedeltas, dict(min_value=1.5), "Expected min_value to be a datetime.timedelta, but got 1.5"),
    # The flag is checked before the bounds.
    (E.datetimes, dict(allow_imaginary=1, min_value=3), "Expected allow_imaginary to be a bool, but got 1"),
])
def test_argument_errors_are_raised_at_once(fn, kw, message):
    with pytest.raises(InvalidArgument) as e:
        fn(**kw)
    assert str(e.value) == message


def test_construction():
    d, t = dt.date(2000, 1, 1), dt.timedelta(seconds=1)
    assert record(0).draw(E.dates(d, dt.date(2000, 1, 1))) is d
    assert record(0).draw(E.timedeltas(t, t)) is t
    for s in (E.datetimes(allow_imaginary=False), E.datetimes(timezones=None), E.times(timezones="x")):
        s.validate()
    assert [repr(s) for s in (E.dates(d), E.times(dt.time(1)), E.datetimes(), E.timedeltas(t))] == [
        "dates()", "times()", "datetimes()", "timedeltas()"]
    with pytest.raises(TypeError):
        E.times(None, None, None)  # timezones is keyword-only
    with pytest.raises(TypeError):  # naive against aware
        E.datetimes(dt.datetime(2000, 1, 1), dt.datetime(2001, 1, 1, tzinfo=UTC))


class LyingDate(dt.date):
    def __new__(cls, ordinal, *args):
        self = super().__new__(cls, *args)
        self.ordinal = ordinal
        return self

    def toordinal(self):
        return self.ordinal


class HugeTime(dt.time):
    hour = 2**62


class BackwardsDelta(dt.timedelta):
    days = -10


def test_bounds_that_no_value_lies_between():
    # 10:00 at +05:00 is before 08:00 UTC, but its reading is later.
    with pytest.raises(InvalidArgument, match="once time zones are ignored"):
        E.times(dt.time(10, tzinfo=PLUS5), dt.time(8, tzinfo=UTC))
    with pytest.raises(InvalidArgument, match="once time zones are ignored"):
        E.datetimes(dt.datetime(2000, 1, 2, 1, tzinfo=PLUS5), dt.datetime(2000, 1, 1, 23, tzinfo=UTC))
    with pytest.raises(InvalidArgument, match="once time zones are ignored"):
        E.dates(LyingDate(10**6, 2000, 1, 1), dt.date(2001, 1, 1))
    with pytest.raises(InvalidArgument, match="once time zones are ignored"):
        E.timedeltas(dt.timedelta(1), BackwardsDelta(2))
    with pytest.raises(OverflowError):
        E.dates(LyingDate(2**70, 2000, 1, 1), dt.date(2001, 1, 1))
    with pytest.raises(OverflowError):
        E.times(HugeTime(1), dt.time(2))
    s = E.dates(LyingDate(-5, 2000, 1, 1), LyingDate(0, 2001, 1, 1))
    with pytest.raises(ValueError):  # not days of the calendar: the host says so
        record(0).draw(s)


def test_shrinking():
    def late(d):
        assert d.year < 2010

    def early(d):
        assert d.year > 1990

    assert minimal(late, E.dates()) == dt.date(2010, 1, 1)
    assert minimal(early, E.dates()) == dt.date(1990, 12, 31)
    assert minimal(late, E.datetimes()) == dt.datetime(2010, 1, 1)

    def afternoon(t):
        assert t.hour < 5

    def long(td):
        assert td < dt.timedelta(days=3)

    assert minimal(afternoon, E.times()) == dt.time(5)
    assert minimal(long, E.timedeltas()) == dt.timedelta(days=3)
