"""Shared pieces of the type-resolution tests.

Type resolution calls the engine's constructors by name on
``quorvantis_fast._engine``. The ``calls`` fixture puts recording stand-ins
there, whose repr is the call that made them, so a test sees exactly what a
type resolves to. Tests that draw values use the real constructors.
"""
import abc
import functools

import pytest

from quorvantis_fast import _engine, native_strategies, strategies
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed, StopTest
from qf_testing import seeded_record

CONSTRUCTORS = [
    "integers", "booleans", "floats", "none", "just", "sampled_from", "one_of", "tuples", "lists",
    "sets", "frozensets", "dictionaries", "fixed_dictionaries", "text", "binary", "builds",
    "deferred", "fractions", "dates", "times", "datetimes", "timedeltas", "uuids",
    "complex_numbers", "decimals", "_functions_strategy",
]
REAL = {name: getattr(_engine, name) for name in CONSTRUCTORS if hasattr(_engine, name)}
ANY = "one_of(none(), booleans(), integers(), floats(), text())"


class Call(_engine.SearchStrategy):
    """A recorded constructor call."""

    def __repr__(self):
        return self.text


def made(text, name=None, args=(), kwargs=None):
    call = Call()
    call.text, call.name, call.args, call.kwargs = text, name, args, kwargs or {}
    return call


def recorder(name):
    def constructor(*args, **kwargs):
        shown = [repr(a) for a in args] + [f"{k}={v!r}" for k, v in kwargs.items()]
        return made(f"{name}({', '.join(shown)})", name, args, kwargs)

    return constructor


def can_hash(value):
    try:
        hash(value)
    except TypeError:
        return False
    return True


@pytest.fixture
def calls(monkeypatch):
    for name in CONSTRUCTORS:
        monkeypatch.setattr(_engine, name, recorder(name), raising=False)
    monkeypatch.setattr(_engine, "can_hash", can_hash, raising=False)


@pytest.fixture
def handoff(monkeypatch):
    """Stands in for the Python-level resolver; lists what it was given."""
    things = []

    def python_from_type(thing):
        things.append(thing)
        return made("python_from_type")

    monkeypatch.setattr(strategies, "from_type", python_from_type)
    return things


@pytest.fixture
def registry(monkeypatch):
    """An empty type registry, with clean resolution caches."""
    reg = {}
    monkeypatch.setattr(native_strategies, "_NATIVE_TYPE_REGISTRY", reg)
    _engine._clear_resolution_caches()
    yield reg
    _engine._clear_resolution_caches()


def needs(*names):
    missing = [n for n in names if not hasattr(_engine, n)]
    return pytest.mark.skipif(bool(missing), reason=f"constructors not built yet: {missing}")


def assert_fails(strategy, message, cls=ResolutionFailed):
    with pytest.raises(InvalidArgument) as info:
        strategy.validate()
    assert (type(info.value), str(info.value)) == (cls, message)


def is_deferred_of(strategy, function, thing):
    """Is `strategy` the recorded deferred(partial(function, thing))?"""
    if getattr(strategy, "name", None) != "deferred":
        return False
    (definition,) = strategy.args
    return isinstance(definition, functools.partial) and (definition.func, definition.args) == (
        function, (thing,))


def draw_many(strategy, n=200):
    """Values drawn from records seeded 0..n-1, rejected test cases left out."""
    values = []
    for seed in range(n):
        try:
            values.append(seeded_record(seed).draw(strategy))
        except StopTest:
            pass
    return values


# A small abstract hierarchy shared by the class-resolution tests.
class Shape(abc.ABC):
    @abc.abstractmethod
    def area(self): ...


class Square(Shape):
    def area(self):
        return 1


class Circle(Shape):
    def __init__(self, radius: float):
        pass

    def area(self):
        return 2
