"""Drawing helpers of the date and container strategy tests."""

import random

from quorvantis_fast import _engine
from quorvantis_fast._engine import BrindlemarData


def record(seed):
    return BrindlemarData(random=random.Random(seed))


def draws(strategy, n=300, seed=0):
    """One value from each of n records with fixed, distinct seeds."""
    return [record(seed * 1_000_003 + i).draw(strategy) for i in range(n)]


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


def stop_test_type():
    import quorvantis_fast.errors as errors

    return errors.StopTest
