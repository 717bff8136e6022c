"""from_type of classes: dataclasses, named tuples, typed dictionaries,
constructor signatures, registered subclasses and abstract classes resolved
at draw time."""

import abc
import collections
import dataclasses
import sys
import typing

import pytest

from quorvantis_fast import _engine
from typeres_helpers import (  # noqa: F401  (fixtures)
    REAL,
    Call,
    assert_resolution_failed,
    calls,
    handoff,
    is_deferred_of,
    registry,
    upstream,
)

pytestmark = pytest.mark.usefixtures("calls", "registry")


def r(thing):
    return repr(_engine.from_type(thing))


def strategy(text):
    s = Call()
    s.text = text
    return s


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


Untyped = collections.namedtuple("Untyped", ["p", "q"])


class Movie(typing.TypedDict):
    title: str
    year: int


class Partial(typing.TypedDict, total=False):
    rating: float


class Mixed(typing.TypedDict):
    name: str
    nick: typing.NotRequired[str]


class TestRecords:
    def test_dataclass_init_fields(self):
        assert r(Point) == f"builds({Point!r}, x=integers(), y=floats())"

    def test_self_referencing_dataclass_is_deferred_inside(self):
        s = _engine.from_type(Node)
        assert s.name == "builds" and s.args == (Node,)
        assert repr(s.kwargs["value"]) == "integers()"
        none, lazy = s.kwargs["next"].args
        assert repr(none) == "none()"
        assert is_deferred_of(lazy, _engine.from_type, Node)

    def test_named_tuple(self):
        assert r(Pair) == f"builds({Pair!r}, a=integers(), b=text())"

    def test_named_tuple_without_hints(self):
        assert r(Untyped) == f"builds({Untyped!r})"

    def test_typed_dict(self):
        assert r(Movie) == "fixed_dictionaries({'title': text(), 'year': integers()})"

    def test_typed_dict_total_false(self):
        assert r(Partial) == "fixed_dictionaries({}, optional={'rating': floats()})"

    def test_typed_dict_not_required(self):
        assert r(Mixed) == "fixed_dictionaries({'name': text()}, optional={'nick': text()})"

    def test_field_resolving_to_a_foreign_strategy(self, registry, handoff):
        class Foreign:
            def do_draw(self, data):
                return 0

        registry[float] = Foreign()
        r(Point)
        r(Partial)
        assert handoff.things == [Point, Partial]

    def test_unresolvable_hint_raises(self):
        @dataclasses.dataclass
        class Broken:
            x: "NoSuchName"  # noqa: F821

        with pytest.raises(NameError):
            _engine.from_type(Broken)


class Plain:
    pass


class WithInit:
    def __init__(self, a: int, /, b: str, *args, c: float = 1.0, d=2, **kwargs):
        pass


class Unannotated:
    def __init__(self, a, b: int = 0):
        pass


class TestConstructorSignature:
    def test_class_without_parameters(self):
        assert r(Plain) == f"builds({Plain!r})"

    def test_annotations_become_arguments(self):
        s = _engine.from_type(WithInit)
        assert [repr(a) for a in s.args] == [repr(WithInit), "integers()"]
        assert {k: repr(v) for k, v in s.kwargs.items()} == {"b": "text()", "c": "floats()"}

    def test_required_parameter_without_annotation(self):
        assert_resolution_failed(
            _engine.from_type(Unannotated),
            f"Could not resolve {Unannotated!r} to a strategy; consider using register_type_strategy",
        )

    def test_defaulted_unannotated_parameters_are_left_out(self):
        class Defaults:
            def __init__(self, a=1, *, b=2):
                pass

        assert r(Defaults) == f"builds({Defaults!r})"

    def test_class_without_signature(self):
        class NoSignature:
            __signature__ = "not a signature"

        assert r(NoSignature) == f"builds({NoSignature!r})"

    def test_hint_resolving_to_a_foreign_strategy_goes_to_the_python_level(self, registry, handoff):
        class Foreign:
            def do_draw(self, data):
                return 0

        registry[str] = Foreign()
        r(WithInit)
        assert handoff.things == [WithInit]

    def test_upstream_type_table_fills_in(self, monkeypatch, upstream):
        from quorvantis.strategies._internal import types

        known = strategy("known")
        known.do_draw = lambda data: 0
        monkeypatch.setitem(types._global_type_lookup, Unannotated, lambda cls: known)
        assert _engine.from_type(Unannotated) is known

    def test_protocol_goes_to_the_python_level(self, handoff):
        class Closeable(typing.Protocol):
            def close(self) -> None: ...

        r(Closeable)
        assert handoff.things == [Closeable]

    def test_non_class_goes_to_the_python_level(self, handoff):
        for thing in (5, "int", object()):
            r(thing)
        assert handoff.things[:2] == [5, "int"] and len(handoff.things) == 3


class Base:
    pass


class SubB(Base):
    pass


class SubA(Base):
    pass


class SubAChild(SubA):
    pass


class TestRegisteredSubclasses:
    def test_one_registered_subclass_resolves_the_base(self, registry):
        registry[SubB] = strategy("b")
        assert r(Base) == "b"

    def test_sorted_by_repr(self, registry):
        registry[SubB] = strategy("b")
        registry[SubA] = strategy("a")
        assert r(Base) == "one_of(a, b)"

    def test_registered_ancestor_hides_its_descendants(self, registry):
        registry[SubAChild] = strategy("child")
        registry[SubA] = strategy("a")
        assert r(Base) == "a"
        assert r(SubA) == "a"

    def test_factories_get_the_resolved_type(self, registry):
        seen = []
        registry[SubB] = lambda t: seen.append(t) or strategy("b")
        assert r(Base) == "b" and seen == [Base]

    def test_declining_subclasses_are_skipped(self, registry):
        registry[SubB] = lambda t: NotImplemented
        assert r(Base) == f"builds({Base!r})"


class Shape(abc.ABC):
    @abc.abstractmethod
    def area(self): ...


class Square(Shape):
    def area(self):
        return 1


class Circle(Shape):
    def __init__(self, radius: float):
        self.radius = radius

    def area(self):
        return 3


class Unfinished(Shape, abc.ABC):
    @abc.abstractmethod
    def more(self): ...


class Animal(abc.ABC):
    @abc.abstractmethod
    def sound(self): ...


class Dog(Animal):
    def sound(self):
        return "woof"


class Cat(Animal):
    def __init__(self, lives: int):
        pass

    def sound(self):
        return "meow"


class Lonely(abc.ABC):
    @abc.abstractmethod
    def f(self): ...


class Failing(Lonely):
    def __init__(self, x: "NoSuchName"):  # noqa: F821
        pass

    def f(self):
        pass


class TestAbstract:
    def test_abstract_class_is_resolved_when_drawn(self):
        assert is_deferred_of(_engine.from_type(Shape), _engine._resolve_abstract, Shape)

    def test_subclasses_in_definition_order(self):
        s = _engine._resolve_abstract(Animal)
        assert repr(s) == f"one_of(builds({Dog!r}), builds({Cat!r}, lives=integers()))"

    @pytest.mark.skipif("deferred" not in REAL, reason="deferred() not built yet")
    def test_concrete_subclasses_in_subclass_order(self, monkeypatch):
        monkeypatch.setattr(_engine, "deferred", REAL["deferred"])
        s = _engine._resolve_abstract(Shape)
        # Unfinished has no implementation, so it is not a branch.
        assert repr(s) == f"one_of(builds({Square!r}), builds({Circle!r}, radius=floats()))"

    def test_registered_subclasses_win(self, registry):
        registry[Circle] = strategy("circle")
        assert r(Shape) != "circle"  # still deferred
        assert repr(_engine._resolve_abstract(Shape)) == "circle"

    def test_result_is_cached_until_cleared(self, registry):
        first = _engine._resolve_abstract(Shape)
        registry[Square] = strategy("square")
        assert _engine._resolve_abstract(Shape) is first
        _engine._clear_resolution_caches()
        assert repr(_engine._resolve_abstract(Shape)) == "square"

    def test_no_resolvable_subclass(self):
        # Failing's own resolution raises; that subclass is dropped.
        assert_resolution_failed(
            _engine._resolve_abstract(Lonely),
            f"Could not resolve {Lonely!r} to a strategy, because it is an abstract type without "
            "resolvable subclasses. Consider using register_type_strategy",
        )

    def test_abstract_subclass_alone(self):
        assert_resolution_failed(
            _engine._resolve_abstract(Unfinished),
            f"Could not resolve {Unfinished!r} to a strategy, because it is an abstract type "
            "without resolvable subclasses. Consider using register_type_strategy",
        )

    def test_bad_input_is_an_exception(self):
        with pytest.raises(AttributeError, match="__subclasses__"):
            _engine._resolve_abstract(5)
        with pytest.raises(TypeError, match="missing 1 required positional argument"):
            _engine._resolve_abstract()


class TestReferences:
    def test_thing_refcount_is_restored(self, registry):
        things = [Plain, Point, Movie, list[int], typing.Optional[str], Shape, Base, Node]
        for t in things:  # typing caches evaluated forward references
            _engine.from_type(t)
        before = [sys.getrefcount(t) for t in things]
        for _ in range(50):
            for t in things:
                _engine.from_type(t)
        after = [sys.getrefcount(t) for t in things]
        assert after == before

    def test_error_paths_leave_no_references(self, registry, handoff):
        def fail(t):
            raise RuntimeError("x")

        registry[Plain] = fail
        before = sys.getrefcount(Plain), sys.getrefcount(fail)
        for _ in range(50):
            with pytest.raises(RuntimeError):
                _engine.from_type(Plain)
            with pytest.raises(RuntimeError):
                _engine.from_type(dict[str, Plain])
        assert (sys.getrefcount(Plain), sys.getrefcount(fail)) == before

    def test_cached_abstract_resolution_releases_on_clear(self):
        before = sys.getrefcount(Shape)
        _engine._resolve_abstract(Shape)
        _engine._clear_resolution_caches()
        assert sys.getrefcount(Shape) == before
