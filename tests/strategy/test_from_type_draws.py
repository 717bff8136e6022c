"""Values drawn from resolved types, with the real constructors."""

import abc
import collections
import dataclasses
import enum
import typing

import pytest

from quorvantis_fast import _engine, native_strategies
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed
from quorvantis_fast.strategies import register_type_strategy
from typeres_helpers import draw_many, needs, registry  # noqa: F401  (fixtures)

pytestmark = [
    pytest.mark.usefixtures("registry"),
    needs("integers", "booleans", "floats", "none", "just", "sampled_from", "one_of", "tuples",
          "lists", "text", "binary", "deferred", "sets", "dictionaries", "builds"),
]

SCALARS = (type(None), bool, int, float, str)


def values(thing, n=200):
    return draw_many(_engine.from_type(thing), n)


class TestBuiltinValues:
    def test_list_elements_are_scalars(self):
        drawn = values(list)
        assert all(isinstance(v, list) for v in drawn)
        elements = [e for v in drawn for e in v]
        assert elements and all(isinstance(e, SCALARS) for e in elements)
        assert {type(e) for e in elements} == set(SCALARS)

    def test_dict(self):
        drawn = values(dict)
        assert all(isinstance(v, dict) for v in drawn) and any(drawn)

    def test_range_of_any_integer(self):
        drawn = values(range)
        assert all(type(v) is range and v.start == 0 and v.step == 1 for v in drawn)
        assert any(v.stop < 0 and len(v) == 0 for v in drawn)
        assert any(len(v) > 0 for v in drawn)

    def test_bytearray(self):
        assert all(type(v) is bytearray for v in values(bytearray))

    def test_enum_members(self):
        class Suit(enum.Enum):
            HEARTS = "h"
            SPADES = "s"

        assert set(values(Suit)) == {Suit.HEARTS, Suit.SPADES}

    def test_any_raises_when_drawn(self):
        with pytest.raises(InvalidArgument, match="typing.Any"):
            values(typing.Any, 1)


T = typing.TypeVar("T")
IntOrStr = typing.TypeVar("IntOrStr", int, str)


class TestTypeVarValues:
    def test_one_type_per_test_case(self):
        pair = _engine.tuples(_engine.from_type(T), _engine.from_type(T))
        drawn = draw_many(pair)
        assert drawn and all(type(a) is type(b) for a, b in drawn)
        assert {type(a) for a, _ in drawn} == {type(None), bool, int, float, str, bytes}

    def test_constrained(self):
        drawn = values(IntOrStr)
        assert {type(v) for v in drawn} == {int, str}


class Plain:
    pass


class TestGenericValues:
    def test_optional(self):
        drawn = values(typing.Optional[int])
        assert {type(v) for v in drawn} == {type(None), int}

    def test_sequence_of_int_includes_bytes(self):
        drawn = values(typing.Sequence[int])
        assert {type(v) for v in drawn} == {list, bytes}

    def test_set_of_user_objects(self):
        drawn = values(set[Plain])
        assert all(isinstance(v, set) and all(type(e) is Plain for e in v) for v in drawn)

    def test_tuple_of_any_length(self):
        drawn = values(tuple[int, ...])
        assert all(type(v) is tuple and all(type(e) is int for e in v) for v in drawn)
        assert len({len(v) for v in drawn}) > 2

    def test_literal(self):
        assert set(values(typing.Literal[1, "a"])) == {1, "a"}

    def test_type_of_union(self):
        assert set(values(type[int | str])) == {int, str}

    @needs("dictionaries")
    def test_counter_and_defaultdict(self):
        counters = values(typing.Counter[str])
        assert all(type(c) is collections.Counter and all(n >= 0 for n in c.values()) for c in counters)
        defaults = values(typing.DefaultDict[str, int])
        assert all(type(d) is collections.defaultdict and d.default_factory is None for d in defaults)

    def test_generator(self):
        for gen in values(typing.Generator[int, None, str], 50):
            items = []
            with pytest.raises(StopIteration) as stop:
                while True:
                    items.append(next(gen))
            assert all(type(i) is int for i in items) and type(stop.value.value) is str

    @needs("_functions_strategy")
    def test_callable_checks_its_arity_and_draws_its_result(self):
        data = _engine.BrindlemarData()
        f = data.draw(_engine.from_type(typing.Callable[[int, int], str]))
        assert type(f(1, 2)) is str
        with pytest.raises(TypeError):
            f(1)


@dataclasses.dataclass
class Node:
    value: int
    next: typing.Optional["Node"] = None


class Pair(typing.NamedTuple):
    a: int
    b: str


class Movie(typing.TypedDict, total=False):
    title: str
    year: int


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
        return 2


class Nowhere(abc.ABC):
    @abc.abstractmethod
    def f(self): ...


class TestClassValues:
    def test_recursive_dataclass_draws_finite_chains(self):
        drawn = values(Node)
        lengths = []
        for node in drawn:
            n = 0
            while node is not None:
                assert type(node) is Node and type(node.value) is int
                node, n = node.next, n + 1
            lengths.append(n)
        assert min(lengths) == 1 and max(lengths) > 1

    def test_named_tuple(self):
        assert all(type(p) is Pair and type(p.a) is int and type(p.b) is str for p in values(Pair))

    @needs("fixed_dictionaries")
    def test_typed_dict_keys_are_optional(self):
        drawn = values(Movie)
        assert all(set(d) <= {"title", "year"} for d in drawn)
        assert {frozenset(d) for d in drawn} == {frozenset(), frozenset({"title"}), frozenset({"year"}),
                                                 frozenset({"title", "year"})}

    def test_abstract_class_draws_its_concrete_subclasses(self):
        assert {type(v) for v in values(Shape)} == {Square, Circle}

    def test_abstract_class_without_subclasses_fails_when_drawn(self):
        s = _engine.from_type(Nowhere)
        with pytest.raises(ResolutionFailed, match="abstract type without resolvable subclasses"):
            draw_many(s, 1)

    def test_registration_is_seen_at_the_first_draw(self, registry):
        s = _engine.from_type(Shape)
        register_type_strategy(Square, _engine.just(Square()))
        assert {type(v) for v in draw_many(s)} == {Square}

    def test_each_run_resolves_afresh(self, registry):
        outside = _engine._resolve_abstract(Shape)
        inside = []

        def test(value):
            inside.append(_engine._resolve_abstract(Shape))

        _engine.run_native(test, [_engine.integers()], max_examples=3)
        assert inside and all(s is inside[0] for s in inside)
        assert inside[0] is not outside
        assert _engine._resolve_abstract(Shape) is outside

    def test_register_type_strategy_clears_the_caches(self, registry):
        first = _engine._resolve_abstract(Shape)
        register_type_strategy(Circle, _engine.just(Circle(1.0)))
        assert native_strategies._NATIVE_TYPE_REGISTRY[Circle] is not None
        assert _engine._resolve_abstract(Shape) is not first
        assert {type(v) for v in draw_many(_engine.from_type(Shape))} == {Circle}
