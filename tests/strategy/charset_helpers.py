"""Helpers of the character and text strategy tests.

Expected alphabets are computed here from ``unicodedata`` one code point at a
time, independently of the engine's interval arithmetic.
"""

import functools
import random
import unicodedata

import pytest

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument

MAX = 0x10FFFF
ALL_BUT_CS = [
    "Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Mc", "Me", "Nd", "Nl", "No", "Pc", "Pd", "Ps", "Pe",
    "Pi", "Pf", "Po", "Sm", "Sc", "Sk", "So", "Zs", "Zl", "Zp", "Cc", "Cf", "Co", "Cn",
]


@functools.cache
def _categories():
    return [unicodedata.category(chr(c)) for c in range(MAX + 1)]


def points(categories=ALL_BUT_CS, lo=0, hi=MAX):
    """Code points in [lo, hi] whose category is listed."""
    wanted = set(categories)
    cats = _categories()
    return {c for c in range(lo, min(hi, MAX) + 1) if cats[c] in wanted}


def intervals_of(codepoints):
    """Sorted, merged (start, end) pairs of a set of code points."""
    out = []
    for c in sorted(codepoints):
        if out and out[-1][1] + 1 == c:
            out[-1][1] = c
        else:
            out.append([c, c])
    return tuple((a, b) for a, b in out)


def alphabet(strategy):
    """The alphabet of a characters() strategy as (start, end) pairs."""
    return tuple(_engine._regex_alphabet_intervals(strategy).intervals)


def record(seed):
    return _engine.BrindlemarData(random=random.Random(seed))


def draws(strategy, n=100, first_seed=0):
    """One value from each of n fresh records with consecutive seeds."""
    return [record(seed).draw(strategy) for seed in range(first_seed, first_seed + n)]


def permits(strategy, value):
    """Does the strategy allow `value`? A replayed value that does not fit its
    constraints is replaced by the simplest one that does."""
    return _engine.BrindlemarData.for_choices([value]).draw(strategy) == value


def stored_error(strategy, message):
    """The strategy was made, and raises `message` when validated and drawn."""
    with pytest.raises(InvalidArgument) as validated:
        strategy.validate()
    assert str(validated.value) == message
    with pytest.raises(InvalidArgument) as drawn:
        record(0).draw(strategy)
    assert str(drawn.value) == message


def minimal(strategy, failing):
    """The shrunk argument of the one failure of `failing` over `strategy`."""

    def test(value):
        assert not failing(value)

    result = _engine.run_native(test, [strategy], seed=0, max_examples=300)
    assert result is not None and len(result) == 1
    (args, _exc), = result
    return args[0]
