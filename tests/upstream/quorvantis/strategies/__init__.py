from quorvantis.strategies._internal.collections import ListStrategy
from quorvantis.strategies._internal.strategies import (
    BooleansStrategy,
    IntegersStrategy,
    JustStrategy,
    SearchStrategy,
)
from quorvantis.strategies._internal.strings import OneCharStringStrategy

__all__ = ["SearchStrategy", "booleans", "characters", "integers", "just", "lists"]


def integers(min_value=None, max_value=None):
    return IntegersStrategy(min_value, max_value)


def booleans():
    return BooleansStrategy()


def just(value):
    return JustStrategy(value)


def lists(elements, *, min_size=0, max_size=None):
    return ListStrategy(elements, min_size, max_size)


def characters(intervals):
    return OneCharStringStrategy(intervals)
