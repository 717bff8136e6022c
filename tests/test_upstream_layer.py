"""The small upstream layer that tests run against with QF_UPSTREAM=1."""

import functools
import operator
import random
import re

import pytest

from qf_testing import needs_upstream

pytestmark = needs_upstream


class _Invalid(Exception):
    pass


class _RandomRecord:
    """A record that answers draws from a seeded generator."""

    def __init__(self, seed):
        self.random = random.Random(seed)

    def draw_integer(self, min_value=None, max_value=None):
        lo = -1000 if min_value is None else min_value
        return self.random.randint(lo, lo + 2000 if max_value is None else max_value)

    def draw_boolean(self, p=0.5):
        return self.random.random() < p

    def draw(self, strategy):
        return strategy.do_draw(self)

    def mark_invalid(self, why=None):
        raise _Invalid


def _draws(strategy, n=200):
    values = []
    for seed in range(n):
        try:
            values.append(strategy.do_draw(_RandomRecord(seed)))
        except _Invalid:
            pass
    return values


@pytest.mark.parametrize(
    "pattern, fullmatch",
    [(r"ab+[0-9]{2}", True), (r"(x|yz)*q?", True), (rb"\x00[a-c]", False), (r"[^a]\w", True)],
)
def test_regex_strategy_draws_matching_strings(pattern, fullmatch):
    from quorvantis.internal.intervalsets import IntervalSet
    from quorvantis.strategies._internal.regex import regex_strategy
    from quorvantis.strategies._internal.strings import OneCharStringStrategy

    compiled = re.compile(pattern)
    alphabet = OneCharStringStrategy(IntervalSet([(32, 126)])) if isinstance(pattern, str) else None
    values = _draws(regex_strategy(compiled, fullmatch, alphabet=alphabet))
    assert len(values) > 100
    match = compiled.fullmatch if fullmatch else compiled.search
    assert all(match(v) for v in values)


def test_build_context_nests_and_restores():
    from quorvantis import control
    from quorvantis.errors import InvalidArgument

    with pytest.raises(InvalidArgument):
        control.current_build_context()
    with control.BuildContext("outer", wrapped_test=print) as outer:
        with control.BuildContext("inner", wrapped_test=print):
            assert control.current_build_context().data == "inner"
        assert control.current_build_context() is outer
    assert control._current_build_context.value is None


@pytest.mark.parametrize(
    "predicate, constraints",
    [
        (functools.partial(operator.lt, 5), {"min_value": 6}),
        (functools.partial(operator.ge, 5.5), {"max_value": 5}),
        (functools.partial(operator.eq, 2.5), {"min_value": 1, "max_value": 0}),
    ],
)
def test_integer_predicate_bounds(predicate, constraints):
    from quorvantis.internal.filtering import get_integer_predicate_bounds

    answer = get_integer_predicate_bounds(predicate)
    assert answer.constraints == constraints and answer.predicate is None


def test_unknown_predicate_is_kept():
    from quorvantis.internal.filtering import get_float_predicate_bounds, min_len

    def predicate(x):
        return x > 0

    assert get_float_predicate_bounds(predicate) == ({}, predicate)
    assert get_float_predicate_bounds(functools.partial(min_len, 1)).constraints == {}
