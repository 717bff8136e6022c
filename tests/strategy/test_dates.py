"""dates(), times(), datetimes() and timedeltas(): bounds, argument errors,
the choices behind each value, the injected days and shrinking."""

import collections
import datetime as dt

import pytest

from container_helpers import draws, minimal, record, recorded, replay, stop_test_type
from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument

UTC = dt.timezone.utc
PLUS5 = dt.timezone(dt.timedelta(hours=5))
Y2K = dt.date(2000, 1, 1).toordinal()


def integer_constraints(nodes):
    return [(n.constraints["min_value"], n.constraints["max_value"], n.constraints["shrink_towards"])
            for n in nodes if n.type == "integer"]


# ---------------------------------------------------------------------------
# Values keep to their bounds

@pytest.mark.parametrize("lo, hi", [
    (None, None),
    (dt.date(2019, 6, 1), dt.date(2021, 6, 1)),
    (dt.date.min, dt.date(1, 1, 3)),
    (dt.date(9999, 12, 30), None),
    (dt.datetime(2000, 5, 5, 12), dt.datetime(2000, 5, 7)),  # datetimes pass as dates
])
def test_dates_within_bounds(lo, hi):
    lo_d = dt.date.min if lo is None else lo
    hi_d = dt.date.max if hi is None else hi
    lo_o, hi_o = lo_d.toordinal(), hi_d.toordinal()
    for v in draws(_engine.dates(lo, hi)):
        assert type(v) is dt.date
        assert lo_o <= v.toordinal() <= hi_o


def test_times_within_bounds_and_naive():
    cases = [
        (None, None),
        (dt.time(10, 0, 0, 1), dt.time(10, 0, 0, 3)),
        (dt.time(23, 59, 59, 999998), None),
        # Aware bounds: the drawn times are naive, within the readings.
        (dt.time(1, 0, tzinfo=UTC), dt.time(2, 30, tzinfo=UTC)),
    ]
    for lo, hi in cases:
        lo_t = (lo or dt.time.min).replace(tzinfo=None)
        hi_t = (hi or dt.time.max).replace(tzinfo=None)
        for v in draws(_engine.times(lo, hi, timezones=object()), n=200):
            assert type(v) is dt.time and v.tzinfo is None
            assert lo_t <= v.replace(fold=0) <= hi_t


def test_datetimes_keep_the_time_of_day_of_their_bounds():
    lo, hi = dt.datetime(2000, 1, 1, 23, 59, 59), dt.datetime(2000, 1, 3, 0, 0, 1)
    seen_days = set()
    for v in draws(_engine.datetimes(lo, hi), n=600):
        assert type(v) is dt.datetime and v.tzinfo is None
        assert lo <= v <= hi
        seen_days.add(v.date())
    assert seen_days == {lo.date(), dt.date(2000, 1, 2), hi.date()}


def test_datetimes_with_both_bounds_on_one_day():
    lo, hi = dt.datetime(2021, 3, 4, 5, 6, 7, 8), dt.datetime(2021, 3, 4, 5, 6, 7, 12)
    values = draws(_engine.datetimes(lo, hi), n=200)
    assert {v.date() for v in values} == {lo.date()}
    assert all(lo <= v <= hi for v in values)


def test_timedeltas_within_bounds_to_the_microsecond():
    cases = [
        (None, None),
        (dt.timedelta(microseconds=-1), dt.timedelta(0)),
        (dt.timedelta(days=-3, microseconds=7), dt.timedelta(days=2, seconds=5)),
        (dt.timedelta.max - dt.timedelta(microseconds=5), None),
    ]
    for lo, hi in cases:
        lo_v = dt.timedelta.min if lo is None else lo
        hi_v = dt.timedelta.max if hi is None else hi
        for v in draws(_engine.timedeltas(lo, hi), n=200):
            assert type(v) is dt.timedelta
            assert lo_v <= v <= hi_v


def test_timedeltas_of_two_values_draw_a_day_and_a_remainder():
    s = _engine.timedeltas(dt.timedelta(microseconds=-1), dt.timedelta(0))
    assert set(draws(s, n=100)) == {dt.timedelta(microseconds=-1), dt.timedelta(0)}
    # Day -1 leaves only its last microsecond; day 0 only its first.
    assert replay(s, [-1, 86399999999]) == dt.timedelta(microseconds=-1)
    assert replay(s, [0, 0]) == dt.timedelta(0)
    _, nodes = recorded(s)
    assert [(lo, hi) for lo, hi, _ in integer_constraints(nodes)][0] == (-1, 0)


def test_times_and_datetimes_draw_both_folds():
    assert {v.fold for v in draws(_engine.times(), n=100)} == {0, 1}
    assert {v.fold for v in draws(_engine.datetimes(), n=100)} == {0, 1}


# ---------------------------------------------------------------------------
# The choices behind each value

def test_replayed_choices_give_the_calendar_day():
    # Ordinals across the whole calendar, with leap-year and century edges.
    ordinals = {1, 2, 59, 60, 365, 366, Y2K - 1, Y2K, dt.date.max.toordinal()}
    for year in (4, 100, 400, 1900, 2000, 2004, 2100, 9996):
        for month, day in ((2, 28), (3, 1), (12, 31), (1, 1)):
            ordinals.add(dt.date(year, month, day).toordinal())
        if year % 4 == 0 and (year % 100 or year % 400 == 0):
            ordinals.add(dt.date(year, 2, 29).toordinal())
    ordinals.update(range(1, dt.date.max.toordinal(), 9973))
    s = _engine.dates()
    for o in sorted(ordinals):
        assert replay(s, [o]) == dt.date.fromordinal(o)


def test_replayed_choices_give_the_time_of_day():
    us = ((1 * 60 + 2) * 60 + 3) * 1_000_000 + 4
    assert replay(_engine.times(), [us, True]) == dt.time(1, 2, 3, 4, fold=1)
    assert replay(_engine.times(), [86399999999, False]) == dt.time.max
    assert replay(_engine.datetimes(), [Y2K, us, True]) == dt.datetime(2000, 1, 1, 1, 2, 3, 4, fold=1)


def test_choices_and_their_shrink_targets():
    _, nodes = recorded(_engine.dates(dt.date(1999, 1, 1), dt.date(2001, 1, 1)))
    assert [n.type for n in nodes] == ["integer"]
    assert integer_constraints(nodes) == [(dt.date(1999, 1, 1).toordinal(), dt.date(2001, 1, 1).toordinal(), Y2K)]

    _, nodes = recorded(_engine.times(dt.time(1), dt.time(2)))
    assert [n.type for n in nodes] == ["integer", "boolean"]
    assert integer_constraints(nodes) == [(3600 * 10**6, 7200 * 10**6, 0)]

    _, nodes = recorded(_engine.datetimes())
    assert [n.type for n in nodes] == ["integer", "integer", "boolean"]
    (day_lo, day_hi, day_to), (_, _, time_to) = integer_constraints(nodes)
    assert (day_lo, day_hi, day_to, time_to) == (1, dt.date.max.toordinal(), Y2K, 0)

    _, nodes = recorded(_engine.timedeltas())
    assert [c[2] for c in integer_constraints(nodes)] == [0, 0]


# ---------------------------------------------------------------------------
# Injected days

def frequent(values, at_least):
    return {v for v, k in collections.Counter(values).items() if k >= at_least}


def test_injected_days_of_a_short_span():
    lo, hi = dt.date(2019, 6, 1), dt.date(2021, 6, 1)
    values = draws(_engine.dates(lo, hi), n=3000, seed=1)
    # Each of the seven candidates comes up about 0.15 / 7 of the time
    # (64 in 3000); an ordinary day of the 732 about 4 times.
    assert frequent(values, 30) == {
        lo, hi, dt.date(2019, 12, 31), dt.date(2020, 2, 29), dt.date(2020, 1, 1),
        dt.date(2020, 12, 31), dt.date(2021, 1, 1),
    }


def test_injected_days_of_the_whole_calendar():
    values = draws(_engine.dates(), n=3000, seed=2)
    assert frequent(values, 30) == {dt.date.min, dt.date.max, dt.date(2000, 1, 1)}
    days = [v.date() for v in draws(_engine.datetimes(), n=3000, seed=3)]
    assert frequent(days, 30) == {dt.date.min, dt.date.max, dt.date(2000, 1, 1)}


def test_injected_days_are_gone_after_each_day_draw():
    wide = _engine.dates()
    stop = stop_test_type()
    for seed in range(30):
        record(seed).draw(wide)
        # A record that runs out of choices in the middle of the day draw.
        with pytest.raises(stop):
            _engine.BrindlemarData.for_choices([]).draw(wide)
    # Had the candidates stayed, the day 2000-01-01 would come up about one
    # integer draw in twenty.
    for seed in range(500):
        d = record(seed)
        assert d.draw_integer(1, 3652059) != Y2K
        assert d.draw_integer(0, 10**9) not in (1, 3652059, Y2K)


def test_other_draws_see_no_candidates():
    values = draws(_engine.timedeltas(dt.timedelta(0), dt.timedelta(days=3652059)), n=2000)
    assert all(v.days != Y2K for v in values)


# ---------------------------------------------------------------------------
# Construction and argument errors

def test_equal_bounds_give_the_bound_itself():
    d = dt.date(2000, 1, 1)
    s = _engine.dates(d, dt.date(2000, 1, 1))
    assert record(0).draw(s) is d
    t = dt.timedelta(seconds=1)
    assert record(0).draw(_engine.timedeltas(t, t)) is t


@pytest.mark.parametrize("fn, lo, hi", [
    (_engine.dates, dt.date(2000, 1, 2), dt.date(2000, 1, 1)),
    (_engine.times, dt.time(3), dt.time(2)),
    (_engine.datetimes, dt.datetime(2000, 1, 1, 0, 0, 1), dt.datetime(2000, 1, 1)),
    (_engine.timedeltas, dt.timedelta(1), dt.timedelta(0)),
])
def test_max_below_min(fn, lo, hi):
    with pytest.raises(InvalidArgument) as e:
        fn(lo, hi)
    assert str(e.value) == f"Cannot have max_value={hi!r} < min_value={lo!r}"


@pytest.mark.parametrize("fn, kw, message", [
    (_engine.dates, {"min_value": "2000"}, "Expected min_value to be a datetime.date, but got '2000'"),
    (_engine.dates, {"max_value": 5}, "Expected max_value to be a datetime.date, but got 5"),
    (_engine.times, {"min_value": dt.datetime(2000, 1, 1)},
     "Expected min_value to be a datetime.time, but got datetime.datetime(2000, 1, 1, 0, 0)"),
    (_engine.datetimes, {"max_value": dt.date(2000, 1, 1)},
     "Expected max_value to be a datetime.datetime, but got datetime.date(2000, 1, 1)"),
    (_engine.timedeltas, {"min_value": 1.5}, "Expected min_value to be a datetime.timedelta, but got 1.5"),
    (_engine.datetimes, {"allow_imaginary": 1}, "Expected allow_imaginary to be a bool, but got 1"),
    # The flag is checked before the bounds.
    (_engine.datetimes, {"allow_imaginary": "no", "min_value": 3},
     "Expected allow_imaginary to be a bool, but got 'no'"),
])
def test_argument_errors_are_raised_at_once(fn, kw, message):
    with pytest.raises(InvalidArgument) as e:
        fn(**kw)
    assert str(e.value) == message


def test_accepted_arguments_that_change_nothing():
    for s in (_engine.datetimes(allow_imaginary=False), _engine.datetimes(allow_imaginary=True),
              _engine.datetimes(timezones=None), _engine.times(timezones="anything")):
        s.validate()
        record(0).draw(s)


def test_signatures():
    with pytest.raises(TypeError):
        _engine.times(None, None, None)  # timezones is keyword-only
    with pytest.raises(TypeError):
        _engine.dates(timezones=None)
    with pytest.raises(TypeError):
        _engine.datetimes(1, 2, 3)


def test_comparison_errors_pass_through():
    with pytest.raises(TypeError):
        _engine.datetimes(dt.datetime(2000, 1, 1), dt.datetime(2001, 1, 1, tzinfo=UTC))
    with pytest.raises(TypeError):
        _engine.dates(dt.datetime(2000, 1, 1), dt.date(2001, 1, 1))


def test_aware_bounds_whose_readings_are_out_of_order():
    # 10:00 at +05:00 is 05:00 UTC, before 08:00 UTC, yet its reading is later:
    # no naive value lies between the two readings.
    lo, hi = dt.time(10, tzinfo=PLUS5), dt.time(8, tzinfo=UTC)
    with pytest.raises(InvalidArgument, match="once time zones are ignored"):
        _engine.times(lo, hi)
    lo, hi = dt.datetime(2000, 1, 2, 1, tzinfo=PLUS5), dt.datetime(2000, 1, 1, 23, tzinfo=UTC)
    with pytest.raises(InvalidArgument, match="once time zones are ignored"):
        _engine.datetimes(lo, hi)
    # In order once read: accepted, values between the readings.
    lo, hi = dt.datetime(2000, 1, 1, 1, tzinfo=PLUS5), dt.datetime(2000, 1, 1, 3, tzinfo=UTC)
    for v in draws(_engine.datetimes(lo, hi), n=100):
        assert dt.datetime(2000, 1, 1, 1) <= v <= dt.datetime(2000, 1, 1, 3)


def test_reprs():
    assert repr(_engine.dates(dt.date(2000, 1, 1), dt.date(2001, 1, 1))) == "dates()"
    assert repr(_engine.times(dt.time(1))) == "times()"
    assert repr(_engine.datetimes(allow_imaginary=False)) == "datetimes()"
    assert repr(_engine.timedeltas(max_value=dt.timedelta(1))) == "timedeltas()"
    assert repr(_engine.dates(dt.date(2000, 1, 1), dt.date(2000, 1, 1))) == "just(datetime.date(2000, 1, 1))"


# ---------------------------------------------------------------------------
# Hostile bounds: errors, never a crash

class LyingDate(dt.date):
    def __new__(cls, ordinal, *args):
        self = super().__new__(cls, *args)
        self.ordinal = ordinal
        return self

    def toordinal(self):
        return self.ordinal


class HugeTime(dt.time):
    hour = 2**62


class BadCompare(dt.date):
    def __lt__(self, other):
        raise ZeroDivisionError("no order")


def test_hostile_bounds():
    with pytest.raises(OverflowError):
        _engine.dates(LyingDate(2**70, 2000, 1, 1), dt.date(2001, 1, 1))
    with pytest.raises(TypeError):
        _engine.dates(LyingDate("x", 2000, 1, 1), dt.date(2001, 1, 1))
    with pytest.raises(InvalidArgument, match="once time zones are ignored"):
        _engine.dates(LyingDate(10**6, 2000, 1, 1), dt.date(2001, 1, 1))
    with pytest.raises(OverflowError):
        _engine.times(HugeTime(1), dt.time(2))
    with pytest.raises(ZeroDivisionError):
        _engine.dates(dt.date(2000, 1, 1), BadCompare(2001, 1, 1))
    # Ordinals outside the calendar: the draw reports the host's error.
    s = _engine.dates(LyingDate(-5, 2000, 1, 1), LyingDate(0, 2001, 1, 1))
    with pytest.raises(ValueError):
        for seed in range(20):
            record(seed).draw(s)


# ---------------------------------------------------------------------------
# Shrinking

def test_dates_shrink_towards_the_year_2000():
    def late(d):
        assert d.year < 2010

    def early(d):
        assert d.year > 1990

    assert minimal(late, _engine.dates()) == dt.date(2010, 1, 1)
    assert minimal(early, _engine.dates()) == dt.date(1990, 12, 31)


def test_datetimes_shrink_to_midnight_of_the_nearest_day():
    def late(d):
        assert d.year < 2010

    assert minimal(late, _engine.datetimes()) == dt.datetime(2010, 1, 1)


def test_times_and_timedeltas_shrink_towards_zero():
    def late(t):
        assert t.hour < 5

    assert minimal(late, _engine.times()) == dt.time(5)

    def long(td):
        assert td < dt.timedelta(days=3)

    assert minimal(long, _engine.timedeltas()) == dt.timedelta(days=3)
