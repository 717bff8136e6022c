"""Small helpers shared by the record tests."""

import random as _random


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
