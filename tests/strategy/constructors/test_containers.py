"""sets(), frozensets(), dictionaries(), fixed_dictionaries(), iterables(),
binary() and permutations(): sizes, uniqueness, the choices behind each
value, argument errors and reprs."""

import collections
import itertools
import sys

import pytest

from qf_testing import Ints, draws, minimal, random_record as record, recorded, replay, valid_draws
from quorvantis_fast import _engine as E
from quorvantis_fast.errors import InvalidArgument, StopTest

BYTE = E.binary(max_size=1)  # a native strategy with 257 values


def invalid(strategy):
    """The message of a stored argument error: raised by validate and by the first draw."""
    with pytest.raises(InvalidArgument) as by_validate:
        strategy.validate()
    with pytest.raises(InvalidArgument) as by_draw:
        record(0).draw(strategy)
    assert str(by_validate.value) == str(by_draw.value)
    return str(by_validate.value)


@pytest.mark.parametrize("make, cls", [(E.sets, set), (E.frozensets, frozenset)])
@pytest.mark.parametrize("elements", [BYTE, Ints(0, 1000), E.integers(0, 1000)])
def test_sets_within_sizes(make, cls, elements):
    for lo, hi in [(None, None), (2, 5), (3, 3), (None, 1)]:
        for v in valid_draws(make(elements, min_size=lo, max_size=hi), n=100):
            assert type(v) is cls and (lo or 0) <= len(v) <= (hi or 10**10)


def test_duplicates_are_drawn_and_rejected():
    # One continue choice and one element per element; the repeated 5 is
    # rejected and the set goes on.
    assert replay(E.sets(Ints(0, 10)), [True, 5, True, 5, True, 7, False]) == {5, 7}
    # A dictionary draws the value of a rejected key too.
    d = E.BrindlemarData.for_choices([True, 1, 11, True, 1, 12, True, 2, 13, False])
    assert d.draw(E.dictionaries(Ints(0, 9), Ints(10, 99))) == {1: 11, 2: 13} and len(d.choices) == 10
    for v in valid_draws(E.dictionaries(E.integers(0, 5), BYTE, min_size=2, max_size=4), n=100):
        assert 2 <= len(v) <= 4 and set(v) <= set(range(6))


@pytest.mark.parametrize("s", [
    E.sets(Ints(0, 1), min_size=3), E.frozensets(E.sampled_from([1, 1, 2]), min_size=3),
    E.dictionaries(E.just(0), BYTE, min_size=2)])
def test_too_few_distinct_values_end_the_test_case(s):
    for seed in range(20):
        d = record(seed)
        with pytest.raises(StopTest):
            d.draw(s)
        assert d.status == 1  # invalid


def test_element_errors_pass_through():
    with pytest.raises(TypeError):  # lists are unhashable
        record(1).draw(E.sets(E.permutations([1, 2]), min_size=1))
    with pytest.raises(Exception):  # no strategy test at construction; the record refuses 5
        record(0).draw(E.sets(5, min_size=1))


@pytest.mark.parametrize("args, message", [
    ((5, BYTE), "Expected a SearchStrategy but got dictionaries() keys=5 (type=int)"),
    ((BYTE, "v"), "Expected a SearchStrategy but got dictionaries() values='v' (type=str)"),
])
def test_dictionaries_need_strategies(args, message):
    with pytest.raises(InvalidArgument) as e:
        E.dictionaries(*args, min_size=-1)  # raised before the sizes are looked at
    assert str(e.value) == message


def test_empty_elements():
    nothing = E.nothing()
    assert invalid(E.sets(nothing, min_size=1)) == (
        "Cannot create non-empty sets with elements drawn from strategy nothing() because it has no values")
    assert invalid(E.dictionaries(BYTE, nothing, min_size=1)) == (
        "Cannot create non-empty dictionaries with elements drawn from strategy nothing() because it has no values")
    assert invalid(E.frozensets(nothing, max_size=3)) == (
        "Cannot create a frozensets of max_size=3, because no elements can be drawn from the element strategy "
        "nothing()")
    assert record(0).draw(E.sets(nothing)) == set()
    assert not E.dictionaries(nothing, nothing).is_empty


def test_fixed_dictionaries():
    s = E.fixed_dictionaries({"b": Ints(0, 9), "a": Ints(10, 19), 3: BYTE})
    v = replay(s, [4, 15, b"x"])
    assert v == {"b": 4, "a": 15, 3: b"x"} and list(v) == ["b", "a", 3]
    assert recorded(E.fixed_dictionaries({})) == ({}, ())
    mapping = {"a": E.just(0)}
    s = E.fixed_dictionaries(mapping, optional={"b": E.just(1), "c": BYTE})
    mapping["x"] = BYTE  # the strategy keeps the entries it was given
    seen = collections.Counter(frozenset(v) for v in draws(s, n=200))
    assert set(seen) == {frozenset("a"), frozenset("ab"), frozenset("ac"), frozenset("abc")}
    # One boolean per optional key after the required values; a key left out draws nothing.
    assert replay(s, [False, True, b"z"]) == {"a": 0, "c": b"z"}
    with pytest.raises(InvalidArgument, match="cannot be greater"):
        E.fixed_dictionaries({}, optional={"x": E.sets(BYTE, min_size=3, max_size=1)}).validate()


class OrderedMapping(collections.OrderedDict):
    pass


@pytest.mark.parametrize("mapping, optional, message", [
    ([("a", BYTE)], None, "mapping=[('a', binary())] must be a dict mapping keys to strategies."),
    ({"a": BYTE}, [1], "optional=[1] must be a dict mapping keys to strategies."),
    (collections.OrderedDict(a=BYTE), {"b": BYTE},
     "Got arguments of different types: mapping=OrderedDict, optional=dict"),
    ({"a": BYTE}, OrderedMapping(b=BYTE), "Got arguments of different types: mapping=dict, optional=OrderedMapping"),
    ({"a": BYTE, 2: BYTE}, {"c": BYTE, 2: 7, "a": BYTE},
     "The following keys were in both mapping and optional, which is invalid: {2}"),
    ({"a": BYTE}, {"b": 7}, "Expected a SearchStrategy but got fixed_dictionaries() optional value=7 (type=int)"),
    ({"a": BYTE, "b": "x"}, None, "Expected a SearchStrategy but got fixed_dictionaries() value='x' (type=str)"),
    ({"a": 1}, {"b": 2}, "Expected a SearchStrategy but got fixed_dictionaries() optional value=2 (type=int)"),
])
def test_fixed_dictionaries_argument_errors(mapping, optional, message):
    with pytest.raises(InvalidArgument) as e:
        E.fixed_dictionaries(mapping, optional=optional)
    assert str(e.value) == message


class Key:
    """A key whose hash fails after the first call."""

    def __init__(self):
        self.calls = 0

    def __hash__(self):
        self.calls += 1
        if self.calls > 1:
            raise ZeroDivisionError("hash")
        return 1


def test_hostile_keys_raise_their_own_errors():
    with pytest.raises(ZeroDivisionError):
        E.fixed_dictionaries({"a": BYTE}, optional={Key(): BYTE})
    with pytest.raises(ZeroDivisionError):
        record(0).draw(E.fixed_dictionaries({Key(): BYTE}))


def test_iterables():
    s = E.iterables(E.integers(0, 5), min_size=1, max_size=3)
    for v in draws(s, n=50):
        items = list(v)
        assert type(v).__name__ == "_PrettyIter" and 1 <= len(items) <= 3 and list(v) == []
    choices = [True, 4, True, 2, False]
    assert list(replay(s, choices)) == replay(E.lists(E.integers(0, 5), min_size=1, max_size=3), choices)
    assert all(sorted(v) == [0, 1, 2, 3] for v in draws(E.iterables(E.integers(0, 3), unique=True, min_size=4), n=20))
    assert invalid(E.iterables(E.integers(0, 3), unique=True, min_size=5)) == (
        "Cannot create a collection of min_size=5 unique elements with values drawn from only 4 distinct elements")
    assert repr(E.iterables(E.booleans())) == "lists(booleans()).map(_PrettyIter)"
    for bad in (None, 1):
        with pytest.raises(TypeError, match="unique"):
            E.iterables(E.booleans(), unique=bad)


def test_binary():
    for lo, hi in [(None, None), (0, 0), (3, 3), (2, 9), (True, True)]:
        for v in draws(E.binary(min_size=lo, max_size=hi), n=100):
            assert type(v) is bytes and (lo or 0) <= len(v) <= (10**10 if hi is None else hi)
    v, (node,) = recorded(E.binary(min_size=2, max_size=7))
    assert (node.type, node.value, node.was_forced) == ("bytes", v, False)
    assert node.constraints == {"min_size": 2, "max_size": 7}
    E.binary(min_size=8192).validate()


class Hostile:
    def __index__(self):
        raise ZeroDivisionError

    def __repr__(self):
        raise RuntimeError


@pytest.mark.parametrize("s, message", [
    (E.binary(min_size=1.5), "min_size=1.5 must be an integer or None"),
    (E.binary(max_size=-1), "max_size=-1 must be non-negative"),
    (E.binary(min_size=5, max_size=3), "min_size=5 cannot be greater than max_size=3"),
    (E.binary(min_size=8193), "Cannot create a binary of min_size=8193: it can never generate an example, "
                              "because min_size is larger than the maximum buffer size 8192"),
    (E.dictionaries(BYTE, BYTE, max_size="3"), "max_size='3' must be an integer or None"),
    (E.sets(BYTE, min_size=Hostile()), "min_size= must be an integer or None"),
])
def test_size_errors_are_stored(s, message):
    assert invalid(s) == message


def test_permutations():
    values = ["a", "b", "c"]
    seen = {tuple(v) for v in draws(E.permutations(values), n=200)}
    assert seen == set(itertools.permutations(values))
    s = E.permutations(values)
    _, nodes = recorded(s)
    assert [(n.constraints["min_value"], n.constraints["max_value"]) for n in nodes] == [(0, 2), (1, 2)]
    # Position 0 takes item 2 ("c" for "a"), then position 1 takes item 2 ("a").
    assert replay(s, [2, 2]) == ["c", "a", "b"]
    for few in ([], [object()]):
        v, nodes = recorded(E.permutations(few))
        assert v == few and v is not few and nodes == ()
    assert sorted(record(0).draw(E.permutations(collections.OrderedDict(x=1, y=2)))) == ["x", "y"]


@pytest.mark.parametrize("values", [{1, 2}, {"a": 1}, (x for x in "ab")])
def test_permutations_need_an_ordered_collection(values):
    with pytest.raises(InvalidArgument) as e:
        E.permutations(values)
    assert str(e.value) == (
        f"Cannot sample from {values!r}, not an ordered collection. Quorvantis needs stable results between "
        "runs for the permutations strategy, ruling out sets/dicts due to hash randomization. Use "
        "`sorted(values)` for a stable order.")


def test_reprs_and_signatures():
    assert [repr(s) for s in (E.sets(BYTE, min_size=1), E.frozensets(Ints(0, 1)), E.dictionaries(BYTE, E.dates()),
                              E.binary(min_size=2), E.fixed_dictionaries({}), E.permutations([1]))] == [
        "sets(binary())", "frozensets(Ints(0, 1))", "dictionaries(keys=binary(), values=dates())", "binary()",
        "SearchStrategy(...)", "SearchStrategy(...)"]
    for call in (lambda: E.binary(3), lambda: E.sets(BYTE, 1), lambda: E.fixed_dictionaries({}, {})):
        with pytest.raises(TypeError):
            call()


def test_references_are_released():
    key, value = object(), ("payload",)
    s = E.fixed_dictionaries({key: E.permutations([value, value])}, optional={"k": E.sets(E.just(value))})
    before = sys.getrefcount(key), sys.getrefcount(value)
    for seed in range(300):
        record(seed).draw(s)
        with pytest.raises(StopTest):
            E.BrindlemarData.for_choices([]).draw(s)
    assert (sys.getrefcount(key), sys.getrefcount(value)) == before
    del s
    assert sys.getrefcount(key) == before[0] - 1


def test_shrinking():
    def big(x):
        assert len(x) < 3

    assert minimal(big, E.sets(Ints(0, 100))) == {0, 1, 2}
    assert minimal(big, E.frozensets(E.integers())) == frozenset({0, 1, -1})
    assert minimal(big, E.binary()) == b"\x00\x00\x00"
    assert minimal(big, E.dictionaries(Ints(0, 100), E.integers())) == {0: 0, 1: 0, 2: 0}
    # Optional keys: leaving the first one out is simpler than keeping it.
    assert minimal(big, E.fixed_dictionaries({}, optional=dict.fromkeys("abcd", E.booleans()))) == {
        "b": False, "c": False, "d": False}

    def first_is_zero(p):
        assert p[0] == 0

    assert minimal(first_is_zero, E.permutations([0, 1, 2])) == [1, 0, 2]
