"""sets(), frozensets(), dictionaries(), fixed_dictionaries(), binary() and
permutations(): sizes, uniqueness, the choices behind each value, argument
errors and reprs."""

import collections
import datetime as dt
import itertools
import sys

import pytest

from container_helpers import Ints, draws, has, record, recorded, replay, stop_test_type, valid_draws
from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument

needs_nothing = pytest.mark.skipif(not has("nothing"), reason="needs nothing()")

BYTE = _engine.binary(max_size=1)  # a native strategy with 257 values


def invalid(strategy):
    """The message of a stored argument error: raised by validate and by the first draw."""
    with pytest.raises(InvalidArgument) as by_validate:
        strategy.validate()
    with pytest.raises(InvalidArgument) as by_draw:
        record(0).draw(strategy)
    assert str(by_validate.value) == str(by_draw.value)
    return str(by_validate.value)


# ---------------------------------------------------------------------------
# sets and frozensets

@pytest.mark.parametrize("make, cls", [(_engine.sets, set), (_engine.frozensets, frozenset)])
@pytest.mark.parametrize("lo, hi", [(None, None), (2, 5), (3, 3), (0, 0), (None, 1)])
def test_sets_within_sizes(make, cls, lo, hi):
    for elements in (BYTE, Ints(0, 1000)):
        for v in valid_draws(make(elements, min_size=lo, max_size=hi), n=150):
            assert type(v) is cls
            assert (lo or 0) <= len(v) <= (1000 if hi is None else hi)


def test_sets_reject_duplicates():
    # Each element is one continue choice and one integer; the repeated 5
    # is drawn, rejected, and the set goes on.
    assert replay(_engine.sets(Ints(0, 10)), [True, 5, True, 5, True, 7, False]) == {5, 7}
    assert replay(_engine.frozensets(Ints(0, 10)), [True, 5, False]) == frozenset({5})


def test_sets_of_too_few_distinct_values_end_the_test_case():
    s = _engine.sets(Ints(0, 1), min_size=3)
    stop = stop_test_type()
    for seed in range(20):
        d = record(seed)
        with pytest.raises(stop):
            d.draw(s)
        assert d.status == 1  # invalid
    # Without a minimum the set just stops growing.
    for v in draws(_engine.sets(Ints(0, 1)), n=50):
        assert v <= {0, 1}


def test_sets_reach_every_distinct_value_when_they_must():
    assert set(map(frozenset, valid_draws(_engine.sets(Ints(0, 2), min_size=3), n=30))) == {frozenset({0, 1, 2})}


def test_sets_of_unhashable_or_foreign_elements_raise():
    with pytest.raises(TypeError):
        record(1).draw(_engine.sets(_engine.permutations([1, 2]), min_size=1))
    s = _engine.sets(5, min_size=1)  # no strategy test at construction
    with pytest.raises(Exception):
        record(0).draw(s)


# ---------------------------------------------------------------------------
# dictionaries

def test_dictionaries_within_sizes_with_distinct_keys():
    s = _engine.dictionaries(Ints(0, 5), BYTE, min_size=2, max_size=4)
    for v in valid_draws(s, n=200):
        assert type(v) is dict and 2 <= len(v) <= 4
        assert set(v) <= set(range(6)) and all(len(b) <= 1 for b in v.values())


def test_dictionaries_draw_the_value_of_a_rejected_key():
    s = _engine.dictionaries(Ints(0, 9), Ints(10, 99))
    d = _engine.BrindlemarData.for_choices([True, 1, 11, True, 1, 12, True, 2, 13, False])
    assert d.draw(s) == {1: 11, 2: 13}
    assert len(d.choices) == 10


def test_dictionaries_of_too_few_keys_end_the_test_case():
    s = _engine.dictionaries(Ints(0, 0), BYTE, min_size=2)
    with pytest.raises(stop_test_type()):
        record(0).draw(s)


@pytest.mark.parametrize("args, message", [
    ((5, BYTE), "Expected a SearchStrategy but got dictionaries() keys=5 (type=int)"),
    ((BYTE, "v"), "Expected a SearchStrategy but got dictionaries() values='v' (type=str)"),
    ((None, 3.5), "Expected a SearchStrategy but got dictionaries() keys=None (type=NoneType)"),
])
def test_dictionaries_need_strategies(args, message):
    with pytest.raises(InvalidArgument) as e:
        _engine.dictionaries(*args, min_size=-1)  # raised before the sizes are looked at
    assert str(e.value) == message


@needs_nothing
def test_empty_elements():
    nothing = _engine.nothing()
    assert invalid(_engine.sets(nothing, min_size=1)) == (
        "Cannot create non-empty sets with elements drawn from strategy nothing() because it has no values")
    assert invalid(_engine.dictionaries(BYTE, nothing, min_size=1)) == (
        "Cannot create non-empty dictionaries with elements drawn from strategy nothing() because it has no values")
    assert invalid(_engine.frozensets(nothing, max_size=3)) == (
        "Cannot create a frozensets of max_size=3, because no elements can be drawn from the element strategy "
        "nothing()")
    assert record(0).draw(_engine.sets(nothing)) == set()
    assert record(0).draw(_engine.dictionaries(nothing, BYTE, max_size=0)) == {}
    assert _engine.sets(nothing, min_size=1).is_empty
    assert not _engine.dictionaries(nothing, nothing, min_size=1).is_empty


# ---------------------------------------------------------------------------
# fixed_dictionaries

def test_fixed_dictionaries_draw_each_value_in_mapping_order():
    s = _engine.fixed_dictionaries({"b": Ints(0, 9), "a": Ints(10, 19), 3: BYTE})
    d = _engine.BrindlemarData.for_choices([4, 15, b"x"])
    v = d.draw(s)
    assert v == {"b": 4, "a": 15, 3: b"x"} and list(v) == ["b", "a", 3]
    _, nodes = recorded(_engine.fixed_dictionaries({}))
    assert nodes == ()


def test_fixed_dictionaries_optional_keys():
    s = _engine.fixed_dictionaries({"a": Ints(0, 0)}, optional={"b": Ints(1, 1), "c": BYTE})
    seen = collections.Counter()
    for v in draws(s, n=200):
        assert v["a"] == 0 and set(v) <= {"a", "b", "c"}
        assert v.get("b", 1) == 1
        seen[frozenset(v)] += 1
    # Every combination of the two optional keys comes up.
    assert set(seen) == {frozenset("a"), frozenset("ab"), frozenset("ac"), frozenset("abc")}
    # One boolean per optional key, after the required values; a key left
    # out draws nothing.
    assert replay(s, [0, False, True, b"z"]) == {"a": 0, "c": b"z"}
    assert replay(s, [0, True, 1, False]) == {"a": 0, "b": 1}


def test_fixed_dictionaries_validate_their_optional_values():
    bad = _engine.sets(BYTE, min_size=3, max_size=1)
    s = _engine.fixed_dictionaries({}, optional={"x": bad})
    with pytest.raises(InvalidArgument, match="cannot be greater"):
        s.validate()


class OrderedMapping(collections.OrderedDict):
    pass


@pytest.mark.parametrize("mapping, optional, message", [
    ([("a", BYTE)], None, "mapping=[('a', binary())] must be a dict mapping keys to strategies."),
    ({"a": BYTE}, [1], "optional=[1] must be a dict mapping keys to strategies."),
    ("x", [1], "mapping='x' must be a dict mapping keys to strategies."),
    (collections.OrderedDict(a=BYTE), {"b": BYTE},
     "Got arguments of different types: mapping=OrderedDict, optional=dict"),
    ({"a": BYTE}, OrderedMapping(b=BYTE), "Got arguments of different types: mapping=dict, optional=OrderedMapping"),
    ({"a": BYTE, 2: BYTE}, {"c": BYTE, 2: 7, "a": BYTE},
     "The following keys were in both mapping and optional, which is invalid: {2}"),
    ({"a": BYTE}, {"b": 7, "a": BYTE},
     "Expected a SearchStrategy but got fixed_dictionaries() optional value=7 (type=int)"),
    ({"a": BYTE, "b": "x"}, None, "Expected a SearchStrategy but got fixed_dictionaries() value='x' (type=str)"),
    # Optional entries are checked before the mapping's values.
    ({"a": 1}, {"b": 2}, "Expected a SearchStrategy but got fixed_dictionaries() optional value=2 (type=int)"),
])
def test_fixed_dictionaries_argument_errors(mapping, optional, message):
    with pytest.raises(InvalidArgument) as e:
        _engine.fixed_dictionaries(mapping, optional=optional)
    assert str(e.value) == message


def test_fixed_dictionaries_keep_their_entries_when_the_argument_changes():
    mapping = {"a": Ints(0, 0)}
    s = _engine.fixed_dictionaries(mapping)
    mapping["b"] = Ints(1, 1)
    assert record(0).draw(s) == {"a": 0}


class Key:
    """A key whose hash fails from the n-th call on."""

    def __init__(self, fail_after):
        self.calls, self.fail_after = 0, fail_after

    def __hash__(self):
        self.calls += 1
        if self.calls > self.fail_after:
            raise ZeroDivisionError("hash")
        return 1


def test_hostile_keys_raise_their_own_errors():
    k = Key(fail_after=1)
    optional = {k: BYTE}
    with pytest.raises(ZeroDivisionError):
        _engine.fixed_dictionaries({"a": BYTE}, optional=optional)
    k = Key(fail_after=1)
    s = _engine.fixed_dictionaries({k: BYTE})
    with pytest.raises(ZeroDivisionError):
        record(0).draw(s)


# ---------------------------------------------------------------------------
# binary

def test_binary_sizes_and_its_one_choice():
    for lo, hi in [(None, None), (0, 0), (3, 3), (2, 9), (None, 1)]:
        for v in draws(_engine.binary(min_size=lo, max_size=hi), n=100):
            assert type(v) is bytes and (lo or 0) <= len(v) <= (10**10 if hi is None else hi)
    v, nodes = recorded(_engine.binary(min_size=2, max_size=7))
    (node,) = nodes
    assert node.type == "bytes" and node.value == v and not node.was_forced
    assert node.constraints == {"min_size": 2, "max_size": 7}
    assert replay(_engine.binary(max_size=3), [b"ab"]) == b"ab"


@pytest.mark.parametrize("kw, message", [
    ({"min_size": 1.5}, "min_size=1.5 must be an integer or None"),
    ({"max_size": -1}, "max_size=-1 must be non-negative"),
    ({"min_size": 2**70}, f"min_size={2**70} must be an integer or None"),
    ({"min_size": 5, "max_size": 3}, "min_size=5 cannot be greater than max_size=3"),
    ({"min_size": 8193}, "Cannot create a binary of min_size=8193: it can never generate an example, because "
                         "min_size is larger than the maximum buffer size 8192"),
])
def test_binary_size_errors_are_stored(kw, message):
    assert invalid(_engine.binary(**kw)) == message


def test_size_errors_name_their_collection():
    assert invalid(_engine.frozensets(BYTE, min_size=9000)).startswith("Cannot create a frozensets of min_size=9000")
    assert invalid(_engine.sets(BYTE, min_size=9000)).startswith("Cannot create a sets of min_size=9000")
    assert invalid(_engine.dictionaries(BYTE, BYTE, max_size="3")) == "max_size='3' must be an integer or None"
    _engine.binary(min_size=8192).validate()
    assert record(0).draw(_engine.binary(min_size=True, max_size=True)) is not None


class Hostile:
    def __index__(self):
        raise ZeroDivisionError

    def __repr__(self):
        raise RuntimeError


def test_hostile_sizes():
    assert invalid(_engine.sets(BYTE, min_size=Hostile())) == "min_size= must be an integer or None"


def test_signatures():
    with pytest.raises(TypeError):
        _engine.binary(3)
    with pytest.raises(TypeError):
        _engine.sets(BYTE, 1)
    with pytest.raises(TypeError):
        _engine.dictionaries(BYTE)
    with pytest.raises(TypeError):
        _engine.fixed_dictionaries({}, {})
    with pytest.raises(TypeError):
        _engine.permutations()


# ---------------------------------------------------------------------------
# permutations

def test_permutations_are_orderings_of_the_values():
    values = ["a", "b", "c"]
    seen = set()
    for v in draws(_engine.permutations(values), n=200):
        assert type(v) is list and sorted(v) == values
        seen.add(tuple(v))
    assert seen == set(itertools.permutations(values))


def test_permutation_choices():
    s = _engine.permutations(["a", "b", "c"])
    _, nodes = recorded(s)
    assert [(n.type, n.constraints["min_value"], n.constraints["max_value"]) for n in nodes] == [
        ("integer", 0, 2), ("integer", 1, 2)]
    # Position 0 takes item 2 ("c" for "a"), then position 1 takes item 2 ("a").
    assert replay(s, [2, 2]) == ["c", "a", "b"]
    assert replay(s, [0, 1]) == ["a", "b", "c"]
    for values in ([], [object()]):
        v, nodes = recorded(_engine.permutations(values))
        assert v == values and v is not values and nodes == ()


@pytest.mark.parametrize("values", [{1, 2}, frozenset(), {"a": 1}, (x for x in "ab")])
def test_permutations_need_an_ordered_collection(values):
    with pytest.raises(InvalidArgument) as e:
        _engine.permutations(values)
    assert str(e.value) == (
        f"Cannot sample from {values!r}, not an ordered collection. Quorvantis needs stable results between "
        "runs for the permutations strategy, ruling out sets/dicts due to hash randomization. Use "
        "`sorted(values)` for a stable order.")


def test_permutations_of_other_ordered_collections():
    assert sorted(record(0).draw(_engine.permutations("abc"))) == ["a", "b", "c"]
    assert sorted(record(0).draw(_engine.permutations(range(4)))) == [0, 1, 2, 3]
    assert sorted(record(0).draw(_engine.permutations(collections.OrderedDict(x=1, y=2)))) == ["x", "y"]
    values = [1, 2]
    s = _engine.permutations(values)
    values.append(3)
    assert sorted(record(0).draw(s)) == [1, 2]


# ---------------------------------------------------------------------------
# Reprs, emptiness, references

def test_reprs():
    assert repr(_engine.sets(BYTE, min_size=1)) == "sets(binary())"
    assert repr(_engine.frozensets(Ints(0, 1))) == "frozensets(Ints(0, 1))"
    assert repr(_engine.dictionaries(BYTE, _engine.dates())) == "dictionaries(keys=binary(), values=dates())"
    assert repr(_engine.binary(min_size=2)) == "binary()"
    assert repr(_engine.fixed_dictionaries({"a": BYTE})) == "SearchStrategy(...)"
    assert repr(_engine.permutations([1, 2])) == "SearchStrategy(...)"
    assert repr(_engine.sets(BYTE, min_size=3, max_size=1)) == "SearchStrategy(...)"


def test_nested_native_containers():
    day = _engine.dates(dt.date(2000, 1, 1), dt.date(2000, 1, 9))
    s = _engine.dictionaries(day, _engine.frozensets(BYTE, max_size=2), min_size=1, max_size=3)
    for v in draws(s, n=100):
        assert 1 <= len(v) <= 3
        assert all(type(k) is dt.date and type(f) is frozenset for k, f in v.items())


def test_references_are_released():
    key, value = object(), ("payload",)
    s = _engine.fixed_dictionaries({key: _engine.permutations([value, value])})
    before = sys.getrefcount(key), sys.getrefcount(value)
    for seed in range(300):
        record(seed).draw(s)
        with pytest.raises(stop_test_type()):
            _engine.BrindlemarData.for_choices([]).draw(s)
    assert (sys.getrefcount(key), sys.getrefcount(value)) == before
    elements = Ints(0, 3)
    before = sys.getrefcount(elements)
    strategies = [_engine.sets(elements, max_size=2) for _ in range(100)]
    del strategies
    assert sys.getrefcount(elements) == before


# ---------------------------------------------------------------------------
# Shrinking

def minimal(test, strategy):
    result = _engine.run_native(test, [strategy], seed=0)
    assert result is not None and len(result) == 1
    return result[0][0][0]


def test_containers_shrink():
    def big(x):
        assert len(x) < 3

    assert minimal(big, _engine.sets(Ints(0, 100))) == {0, 1, 2}
    assert minimal(big, _engine.binary()) == b"\x00\x00\x00"
    assert minimal(big, _engine.dictionaries(Ints(0, 100), Ints(0, 100))) == {0: 0, 1: 0, 2: 0}

    def sorted_first(p):
        assert p[0] == 0

    assert minimal(sorted_first, _engine.permutations([0, 1, 2])) == [1, 0, 2]
