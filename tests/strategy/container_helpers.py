"""Drawing helpers of the date and container strategy tests."""

import random

from quorvantis_fast import _engine
from quorvantis_fast._engine import BrindlemarData
from quorvantis_fast.errors import StopTest


def record(seed):
    return BrindlemarData(random=random.Random(seed))


def draws(strategy, n=300, seed=0):
    """One value from each of n records with fixed, distinct seeds."""
    return [record(seed * 1_000_003 + i).draw(strategy) for i in range(n)]


def valid_draws(strategy, n=300, seed=0):
    """The values of the draws among n that the record did not reject (a
    collection may give up on too many duplicates); most must be valid."""
    out = []
    for i in range(n):
        d = record(seed * 1_000_003 + i)
        try:
            out.append(d.draw(strategy))
        except StopTest:
            assert d.status == 1
    assert len(out) > n // 2
    return out


def replay(strategy, choices):
    """The value drawn from a record that replays exactly ``choices``."""
    return BrindlemarData.for_choices(list(choices)).draw(strategy)


def recorded(strategy, seed=0):
    """(value, nodes) of one draw."""
    d = record(seed)
    value = d.draw(strategy)
    return value, d.nodes


def minimal(test, strategy, **kw):
    """The argument of the one failure that a run with shrinking reports."""
    kw.setdefault("seed", 0)
    result = _engine.run_native(test, [strategy], **kw)
    assert result is not None and len(result) == 1
    (args, _exc), = result
    return args[0]


class Ints(_engine.SearchStrategy):
    """A strategy written in Python: integers in [lo, hi], drawn by do_draw."""

    def __init__(self, lo, hi):
        self.lo, self.hi = lo, hi

    def do_draw(self, data):
        return data.draw_integer(self.lo, self.hi)

    def __repr__(self):
        return f"Ints({self.lo}, {self.hi})"
