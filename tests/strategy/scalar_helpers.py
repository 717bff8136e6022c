"""Drawing helpers shared by the constructor tests."""

import random
import re

import pytest

from quorvantis_fast._engine import BrindlemarData
from quorvantis_fast.errors import StopTest

INVALID = 1


def record(seed, **kwargs):
    return BrindlemarData(random=random.Random(seed), **kwargs)


def draw_or_stop(strategy, seed, **kwargs):
    """(value, record) of one draw; value is StopTest when the record ended."""
    data = record(seed, **kwargs)
    try:
        return data.draw(strategy), data
    except StopTest:
        return StopTest, data


def values(strategy, n=200):
    """The values of n seeded draws, skipping test cases the draw rejected."""
    out = []
    for seed in range(n):
        value, _ = draw_or_stop(strategy, seed)
        if value is not StopTest:
            out.append(value)
    return out


def replay(strategy, choices):
    """Draw with the record replaying exactly these choices."""
    return draw_or_stop(strategy, 0, prefix=list(choices))


def raises_invalid(message):
    """Expect InvalidArgument with exactly this message, raised at once."""
    from quorvantis_fast.errors import InvalidArgument

    return pytest.raises(InvalidArgument, match="^" + re.escape(message) + "$")


def assert_stored_error(strategy, message):
    """The constructor returned a strategy that raises `message` when used."""
    from quorvantis_fast._engine import SearchStrategy
    from quorvantis_fast.errors import InvalidArgument, ResolutionFailed

    assert isinstance(strategy, SearchStrategy)
    for use in (strategy.validate, lambda: record(0).draw(strategy)):
        try:
            use()
        except InvalidArgument as e:
            assert not isinstance(e, ResolutionFailed)
            assert str(e) == message
        else:
            raise AssertionError("no stored error raised")
