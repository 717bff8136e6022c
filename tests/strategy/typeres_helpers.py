"""Shared pieces of the type-resolution tests.

Type resolution builds its results by calling the engine's constructor
functions by name on ``quorvantis_fast._engine``. The ``calls`` fixture puts
recording stand-ins there, so a test sees exactly which constructors a type
resolves to (``repr`` of a result is the call that made it) whether or not
the real constructors are built. Tests that draw values use the real
constructors and skip while one is missing.
"""

import functools
import sys

import pytest

from quorvantis_fast import _engine, native_strategies, strategies
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed, StopTest

CONSTRUCTORS = [
    "integers", "booleans", "floats", "none", "just", "sampled_from", "one_of", "tuples",
    "lists", "sets", "frozensets", "dictionaries", "fixed_dictionaries", "text", "binary",
    "builds", "deferred", "fractions", "dates", "times", "datetimes", "timedeltas", "uuids",
    "complex_numbers", "decimals", "_functions_strategy",
]

# The real constructors, before any test replaces them.
REAL = {name: getattr(_engine, name) for name in CONSTRUCTORS if hasattr(_engine, name)}

ANY = "one_of(none(), booleans(), integers(), floats(), text())"


class Call(_engine.SearchStrategy):
    """A recorded constructor call; its repr is the call."""

    def __repr__(self):
        return self.text


def _show(value):
    return repr(value)


def recorder(name):
    def constructor(*args, **kwargs):
        call = Call()
        shown = [_show(a) for a in args] + [f"{k}={_show(v)}" for k, v in kwargs.items()]
        call.text = f"{name}({', '.join(shown)})"
        call.name, call.args, call.kwargs = name, args, kwargs
        return call

    constructor.__name__ = name
    return constructor


def can_hash(value):
    try:
        hash(value)
    except TypeError:
        return False
    return True


@pytest.fixture
def calls(monkeypatch):
    """Recording constructors on the engine module for one test."""
    for name in CONSTRUCTORS:
        monkeypatch.setattr(_engine, name, recorder(name), raising=False)
    monkeypatch.setattr(_engine, "can_hash", can_hash, raising=False)
    yield


class Handoff:
    """Stands in for the Python-level resolver and remembers what it got."""

    def __init__(self):
        self.things = []

    def __call__(self, thing):
        self.things.append(thing)
        result = Call()
        try:
            result.text = f"python_from_type({thing!r})"
        except Exception:
            result.text = "python_from_type(...)"
        return result


@pytest.fixture
def handoff(monkeypatch):
    h = Handoff()
    monkeypatch.setattr(strategies, "from_type", h)
    return h


@pytest.fixture
def registry(monkeypatch):
    """An empty type registry for one test; the resolution caches are
    cleared before and after."""
    reg = {}
    monkeypatch.setattr(native_strategies, "_NATIVE_TYPE_REGISTRY", reg)
    _engine._clear_resolution_caches()
    yield reg
    _engine._clear_resolution_caches()


@pytest.fixture
def upstream(monkeypatch):
    """The test-only upstream layer on the path for one test."""
    from qf_testing import UPSTREAM_DIR

    def purge():
        for name in [m for m in sys.modules if m == "quorvantis" or m.startswith("quorvantis.")]:
            del sys.modules[name]

    had = {m: sys.modules[m] for m in sys.modules if m == "quorvantis" or m.startswith("quorvantis.")}
    monkeypatch.syspath_prepend(UPSTREAM_DIR)
    purge()
    yield
    purge()
    sys.modules.update(had)


def needs(*names):
    missing = [n for n in names if not hasattr(_engine, n)]
    return pytest.mark.skipif(bool(missing), reason=f"constructors not built yet: {', '.join(missing)}")


def stored_error(strategy):
    """(class, message) of the error a strategy holds for validation."""
    with pytest.raises(InvalidArgument) as info:
        strategy.validate()
    return type(info.value), str(info.value)


def assert_resolution_failed(strategy, message):
    assert stored_error(strategy) == (ResolutionFailed, message)


def is_deferred_of(strategy, function, thing):
    """Is `strategy` the recorded deferred(partial(function, thing))?"""
    if getattr(strategy, "name", None) != "deferred":
        return False
    (definition,) = strategy.args
    return (
        isinstance(definition, functools.partial)
        and definition.func is function
        and definition.args == (thing,)
        and not definition.keywords
    )


class FixedSeed:
    def __init__(self, seed):
        self.seed = seed

    def getrandbits(self, n):
        return self.seed


def draw_many(strategy, n=200):
    """Values drawn from records seeded 0..n-1 (rejected test cases left out)."""
    values = []
    for seed in range(n):
        try:
            values.append(_engine.BrindlemarData(random=FixedSeed(seed)).draw(strategy))
        except StopTest:
            pass
    return values
