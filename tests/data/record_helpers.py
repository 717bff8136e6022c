"""Small helpers shared by the record tests."""

import random as _random

from quorvantis_fast._engine import BrindlemarData


class FixedSeed:
    """A `random` argument whose getrandbits always gives one seed."""

    def __init__(self, seed):
        self.seed = seed

    def getrandbits(self, n):
        assert n == 64
        return self.seed


def seeded(seed, **kwargs):
    return BrindlemarData(random=FixedSeed(seed), **kwargs)


def rng(seed):
    return _random.Random(seed)


class Simplest:
    """A "simplest" prefix template with a count."""

    type = "simplest"

    def __init__(self, count):
        self.count = count


class SimplestWithoutCount:
    """Says "simplest" but has no count: replayed as a plain value."""

    type = "simplest"


class Unlimited:
    """A template whose count is unusable: it serves every later draw."""

    type = "simplest"
    count = None
