"""What a filter predicate says about the values it keeps.

Understood: ``functools.partial(operator.OP, v)`` for the five comparisons
and ``functools.partial(min_len, n)`` / ``functools.partial(max_len, n)``.
Anything else gives no constraints and keeps the predicate.
"""

import functools
from typing import NamedTuple


class ConstructivePredicate(NamedTuple):
    constraints: dict
    predicate: object

    @classmethod
    def unchanged(cls, predicate):
        return cls({}, predicate)


def min_len(n, x):
    return len(x) >= n


def max_len(n, x):
    return len(x) <= n


def _length_bound(predicate):
    if isinstance(predicate, functools.partial) and len(predicate.args) == 1:
        if predicate.func is min_len:
            return {"min_value": predicate.args[0], "len": True}
        if predicate.func is max_len:
            return {"max_value": predicate.args[0], "len": True}
    return None


def get_integer_predicate_bounds(predicate):
    from quorvantis_fast.native_strategies import _comparison_bound, _int_bounds

    length = _length_bound(predicate)
    if length is not None:
        return ConstructivePredicate(length, None)
    bound = _comparison_bound(predicate)
    if bound is None:
        return ConstructivePredicate.unchanged(predicate)
    bounds = _int_bounds(*bound)
    if bounds is None:
        return ConstructivePredicate({"min_value": 1, "max_value": 0}, None)
    constraints = {}
    if bounds[0] is not None:
        constraints["min_value"] = bounds[0]
    if bounds[1] is not None:
        constraints["max_value"] = bounds[1]
    return ConstructivePredicate(constraints, None)


def get_float_predicate_bounds(predicate):
    from quorvantis_fast.native_strategies import _comparison_bound, _float_bounds

    bound = _comparison_bound(predicate)
    if bound is None:
        return ConstructivePredicate.unchanged(predicate)
    bounds = _float_bounds(*bound)
    if bounds is None:
        return ConstructivePredicate({"min_value": 1.0, "max_value": 0.0}, None)
    return ConstructivePredicate({"min_value": bounds[0], "max_value": bounds[1]}, None)
