"""from_type of classes: records, constructor signatures, registered
subclasses and abstract classes resolved at draw time."""

import abc
import collections
import dataclasses
import sys
import typing

import pytest

from quorvantis_fast import _engine
from qf_testing import Circle, Shape, Square, assert_fails, is_deferred_of, made

REAL_DEFERRED = _engine.deferred  # before the `calls` fixture replaces it

pytestmark = pytest.mark.usefixtures("calls", "registry")


def r(thing):
    return repr(_engine.from_type(thing))


@dataclasses.dataclass
class Point:
    x: int
    y: float = 0.0
    label: str = dataclasses.field(default="", init=False)


@dataclasses.dataclass
class Node:
    value: int
    next: typing.Optional["Node"] = None


class Pair(typing.NamedTuple):
    a: int
    b: str


class Movie(typing.TypedDict):
    title: str
    nick: typing.NotRequired[str]


class Partial(typing.TypedDict, total=False):
    rating: float


class WithInit:
    def __init__(self, a: int, /, b: str, *args, c: float = 1.0, d=2, **kwargs):
        pass


class Unannotated:
    def __init__(self, a, b: int = 0):
        pass


class NoSignature:
    __signature__ = "not a signature"


@pytest.mark.parametrize(
    "thing, expected",
    [
        (Point, f"builds({Point!r}, x=integers(), y=floats())"),
        (Pair, f"builds({Pair!r}, a=integers(), b=text())"),
        (collections.namedtuple("Untyped", "p q"), "builds(<class 'test_from_type_classes.Untyped'>)"),
        (Movie, "fixed_dictionaries({'title': text()}, optional={'nick': text()})"),
        (Partial, "fixed_dictionaries({}, optional={'rating': floats()})"),
        (WithInit, f"builds({WithInit!r}, integers(), b=text(), c=floats())"),
        (NoSignature, f"builds({NoSignature!r})"),
    ],
)
def test_classes(thing, expected):
    assert r(thing) == expected


def test_self_referencing_dataclass_is_deferred_inside():
    s = _engine.from_type(Node)
    none, lazy = s.kwargs["next"].args
    assert repr(none) == "none()" and is_deferred_of(lazy, _engine.from_type, Node)


def test_required_parameter_without_annotation():
    assert_fails(_engine.from_type(Unannotated),
                 f"Could not resolve {Unannotated!r} to a strategy; consider using register_type_strategy")


def test_upstream_type_table_fills_in_for_unannotated_parameters(monkeypatch):
    from qf_testing import UPSTREAM_DIR

    known = made("known")
    before = set(sys.modules)
    monkeypatch.syspath_prepend(UPSTREAM_DIR)
    try:
        from quorvantis.strategies._internal import types

        monkeypatch.setitem(types._global_type_lookup, Unannotated, lambda cls: known)
        assert _engine.from_type(Unannotated) is known
    finally:
        for name in set(sys.modules) - before:
            del sys.modules[name]


class Foreign:
    def do_draw(self, data):
        return 0


def test_what_goes_to_the_python_level(registry, handoff):
    class Closeable(typing.Protocol):
        def close(self) -> None: ...

    registry[float] = Foreign()
    things = [Closeable, Point, Partial, 5]
    for thing in things:
        _engine.from_type(thing)
    assert handoff == things


def test_unresolvable_field_annotation_raises():
    @dataclasses.dataclass
    class Broken:
        x: "NoSuchName"  # noqa: F821

    with pytest.raises(NameError):
        _engine.from_type(Broken)


class Base:
    pass


class SubB(Base):
    pass


class SubA(Base):
    pass


class SubAChild(SubA):
    pass


def test_registered_subclasses(registry):
    registry[SubB] = made("b")
    assert r(Base) == "b"
    seen = []
    registry[SubA] = lambda t: seen.append(t) or made("a")
    registry[SubAChild] = made("child")  # hidden by its registered parent
    assert r(Base) == "one_of(a, b)" and seen == [Base]
    registry[SubA] = registry[SubB] = lambda t: NotImplemented
    assert r(Base) == f"builds({Base!r})"


class Unfinished(Shape, abc.ABC):
    @abc.abstractmethod
    def more(self): ...


class Lonely(abc.ABC):
    @abc.abstractmethod
    def f(self): ...


class Failing(Lonely):
    def __init__(self, x: "NoSuchName"):  # noqa: F821
        pass

    def f(self):
        pass


def no_subclasses(cls):
    return (f"Could not resolve {cls!r} to a strategy, because it is an abstract type without "
            "resolvable subclasses. Consider using register_type_strategy")


class TestAbstract:
    def test_resolved_when_drawn(self):
        assert is_deferred_of(_engine.from_type(Shape), _engine._resolve_abstract, Shape)

    def test_subclasses_in_order_without_ones_that_cannot_resolve(self, monkeypatch):
        monkeypatch.setattr(_engine, "deferred", REAL_DEFERRED)
        # Unfinished is abstract and has no implementation of its own.
        assert repr(_engine._resolve_abstract(Shape)) == (
            f"one_of(builds({Square!r}), builds({Circle!r}, radius=floats()))")
        assert_fails(_engine._resolve_abstract(Unfinished), no_subclasses(Unfinished))
        # Failing's own resolution raises; it is left out.
        assert_fails(_engine._resolve_abstract(Lonely), no_subclasses(Lonely))

    def test_registered_subclasses_win_and_results_are_cached_until_cleared(self, registry):
        first = _engine._resolve_abstract(Shape)
        registry[Circle] = made("circle")
        assert _engine._resolve_abstract(Shape) is first
        _engine._clear_resolution_caches()
        assert repr(_engine._resolve_abstract(Shape)) == "circle"

    def test_bad_input(self):
        with pytest.raises(AttributeError, match="__subclasses__"):
            _engine._resolve_abstract(5)

        class Meta(type):
            def __subclasses__(cls):
                raise OSError("listing")

        with pytest.raises(OSError, match="listing"):
            _engine._resolve_abstract(Meta("Odd", (), {}))

    def test_references_are_released(self, registry):
        things = [Point, Movie, WithInit, Base, Node, Shape]
        resolve_all(things, 1)  # typing caches evaluated forward references
        before = [sys.getrefcount(t) for t in things]
        resolve_all(things, 50)
        assert [sys.getrefcount(t) for t in things] == before


def resolve_all(things, rounds):
    for _ in range(rounds):
        for thing in things:
            _engine.from_type(thing)
        _engine._resolve_abstract(Shape)
        _engine._clear_resolution_caches()
