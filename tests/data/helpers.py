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
