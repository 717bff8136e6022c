"""Values drawn from resolved types, with the real constructors."""

import abc
import collections.abc
import dataclasses
import tracemalloc
import typing

import pytest

from quorvantis_fast import _engine
from quorvantis_fast.errors import ResolutionFailed
from quorvantis_fast.strategies import register_type_strategy
from qf_testing import Circle, Shape, Square, draw_many

pytestmark = pytest.mark.usefixtures("registry")


def types_of(thing, n=200):
    return {type(v) for v in draw_many(_engine.from_type(thing), n)}


def test_bare_list_holds_every_scalar_type():
    elements = [e for v in draw_many(_engine.from_type(list)) for e in v]
    assert {type(e) for e in elements} == {type(None), bool, int, float, str}


def test_type_variable_is_one_type_per_test_case():
    T = typing.TypeVar("T")
    drawn = draw_many(_engine.tuples(_engine.from_type(T), _engine.from_type(T)))
    assert all(type(a) is type(b) for a, b in drawn)
    assert {type(a) for a, _ in drawn} == {type(None), bool, int, float, str, bytes}


def test_constrained_type_variable_with_a_foreign_strategy_keeps_to_its_constraints(
        registry, upstream, monkeypatch):
    import quorvantis
    import quorvantis.strategies

    from quorvantis_fast import strategies

    monkeypatch.setattr(strategies, "_real_quorvantis", quorvantis)

    class Token:
        pass

    registry[Token] = quorvantis.strategies.just("token")
    drawn = draw_many(_engine.from_type(typing.TypeVar("N", Token, int)))
    assert {type(v) for v in drawn} == {str, int}
    assert {v for v in drawn if type(v) is str} == {"token"}


def test_sequence_of_int_includes_byte_strings():
    assert types_of(typing.Sequence[int]) == {list, bytes}


@pytest.mark.parametrize("mutable", [typing.MutableSequence[int], collections.abc.MutableSequence[int]])
def test_mutable_sequence_of_int_draws_no_byte_strings(mutable):
    assert types_of(mutable) == {list}


@pytest.mark.parametrize("thing", [type, typing.Type])
def test_type_draws_classes(thing):
    drawn = draw_many(_engine.from_type(thing))
    assert all(isinstance(c, type) for c in drawn) and len(set(drawn)) > 1


def test_drawn_callable_checks_its_arity():
    f = _engine.BrindlemarData().draw(_engine.from_type(typing.Callable[[int, int], str]))
    assert type(f(1, 2)) is str
    with pytest.raises(TypeError):
        f(1)


@dataclasses.dataclass
class Node:
    value: int
    next: typing.Optional["Node"] = None


def test_recursive_dataclass_draws_finite_chains():
    lengths = []
    for node in draw_many(_engine.from_type(Node)):
        n = 0
        while node is not None:
            assert type(node.value) is int
            node, n = node.next, n + 1
        lengths.append(n)
    assert min(lengths) == 1 and max(lengths) > 1


class Nowhere(abc.ABC):
    @abc.abstractmethod
    def f(self): ...


class TestAbstract:
    def test_draws_concrete_subclasses_or_fails_without_any(self):
        assert types_of(Shape) == {Square, Circle}
        with pytest.raises(ResolutionFailed, match="abstract type without resolvable subclasses"):
            draw_many(_engine.from_type(Nowhere), 1)

    def test_registration_is_seen_at_the_first_draw(self):
        s = _engine.from_type(Shape)
        register_type_strategy(Square, _engine.just(Square()))
        assert {type(v) for v in draw_many(s)} == {Square}

    def test_registration_drops_resolutions_already_made(self):
        assert {type(v) for v in draw_many(_engine._resolve_abstract(Shape))} == {Square, Circle}
        register_type_strategy(Circle, _engine.just(Circle(1.0)))
        assert {type(v) for v in draw_many(_engine._resolve_abstract(Shape))} == {Circle}

    def test_each_run_resolves_afresh(self):
        outside = _engine._resolve_abstract(Shape)
        inside = []
        _engine.run_native(lambda v: inside.append(_engine._resolve_abstract(Shape)),
                           [_engine.integers()], max_examples=3)
        assert inside and all(s is inside[0] for s in inside) and inside[0] is not outside
        assert _engine._resolve_abstract(Shape) is outside


def test_repeated_resolution_of_a_record_type_keeps_little():
    Pair = typing.NamedTuple("Pair", [("a", int), ("b", str)])
    for _ in range(3):  # the one-time set-up (imports, the alphabet of str) stays out of the measure
        _engine.from_type(Pair)
    tracemalloc.start()
    for _ in range(3000):
        _engine.from_type(Pair)
    kept = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    assert kept < 256 * 1024
