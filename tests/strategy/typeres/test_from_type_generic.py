"""from_type of generic aliases: unions, literals, callables, tuples, builtin
and abstract collections and their bare forms."""

import collections
import collections.abc as abc
import functools
import inspect
import operator
import typing

import pytest

from quorvantis_fast import _engine, native_strategies
from qf_testing import ANY, assert_fails, made

pytestmark = pytest.mark.usefixtures("calls", "registry")


def r(thing):
    return repr(_engine.from_type(thing))


class Plain:
    pass


B = f"builds({Plain!r})"


@pytest.mark.parametrize(
    "thing, expected",
    [
        (list[int], "lists(integers())"),
        (typing.Dict[bool, list[int]], "dictionaries(booleans(), lists(integers()))"),
        (tuple[int, str], "tuples(integers(), text())"),
        (tuple[int, ...], "lists(integers()).map(tuple)"),
        (tuple[typing.Any, ...], f"lists({ANY}).map(tuple)"),
        (list[typing.Any], f"lists({ANY})"),
        (typing.Sequence[str], "lists(text())"),
        (typing.Sequence[int], "one_of(lists(integers()), binary())"),
        (typing.Iterable[object], f"one_of(lists({ANY}), binary())"),
        (abc.Collection[int | str], "one_of(lists(one_of(integers(), text())), binary())"),
        (abc.Container[bool], "lists(booleans())"),
        (typing.Iterator[int], "lists(integers()).map(iter)"),
        (typing.Generator[int, None, str], "tuples(lists(integers()), text()).map(_make_generator)"),
        (typing.AbstractSet[int], "sets(integers())"),
        (typing.Mapping[str, float], "dictionaries(text(), floats())"),
        (typing.Deque[int], "lists(integers()).map(deque)"),
        (typing.OrderedDict[str, int], "dictionaries(text(), integers()).map(OrderedDict)"),
        (typing.Counter[str], "dictionaries(text(), integers(min_value=0)).map(Counter)"),
        (typing.ChainMap[str, int], "dictionaries(text(), integers()).map(ChainMap)"),
        (typing.Literal[1, "a"], "sampled_from((1, 'a'))"),
        (typing.Final[int], "integers()"),
        (typing.ClassVar[str], "text()"),
        (type[int], "just(<class 'int'>)"),
        (type["int"], "just(<class 'int'>)"),
        (type[typing.Union[int, "str"]], "sampled_from([<class 'int'>, <class 'str'>])"),
        # None first, the other members in their order
        (str | bytes | None | int, "one_of(none(), text(), binary(), integers())"),
        (typing.Optional[int], "one_of(none(), integers())"),
        # set elements and dict keys of types that may be unhashable are filtered
        (set[float], "sets(floats())"),
        (frozenset[type(None)], "frozensets(none())"),
        (set[list[int]], "sets(lists(integers()).filter(can_hash))"),
        (dict[Plain, int], f"dictionaries({B}.filter(can_hash), integers())"),
        (abc.MutableSet[bool], "sets(booleans())"),
        # bare forms
        (typing.List, f"lists({ANY})"),
        (typing.Collection, f"lists({ANY})"),
        (typing.MutableSet, f"sets({ANY})"),
        (typing.FrozenSet, f"frozensets({ANY})"),
        (typing.Mapping, f"dictionaries({ANY}, {ANY})"),
        (typing.Tuple, f"lists({ANY}).map(tuple)"),
        (typing.Iterator, f"lists({ANY}).map(iter)"),
        (tuple[()], "just(())"),
    ],
)
def test_generic_aliases(thing, expected):
    assert r(thing) == expected


@pytest.mark.parametrize(
    "view, base, expected",
    [
        (abc.KeysView[int], "dictionaries(integers(), none())", [1, 2]),
        (abc.ValuesView[str], "dictionaries(integers(), text())", ["a", "b"]),
        (abc.ItemsView[int, str], "dictionaries(integers(), text())", [(1, "a"), (2, "b")]),
    ],
)
def test_views_map_dictionaries_through_their_method(view, base, expected):
    mapped = _engine.from_type(view).wrapped_strategy
    assert repr(mapped.mapped_strategy) == base
    assert list(mapped.pack({1: "a", 2: "b"})) == expected


def test_defaultdict_has_no_default_factory():
    pack = _engine.from_type(typing.DefaultDict[str, int]).wrapped_strategy.pack
    assert isinstance(pack, functools.partial) and pack.func is collections.defaultdict
    assert pack({"a": 1}).default_factory is None


def test_callables():
    like, returns, _ = _engine.from_type(typing.Callable[[int, int], str]).args
    assert len(inspect.signature(like).parameters) == 2 and repr(returns) == "text()"
    like, returns, _ = _engine.from_type(typing.Callable[..., int]).args
    assert like is native_strategies._any_callable and repr(returns) == "integers()"
    like, returns, _ = _engine.from_type(typing.Callable).args
    assert like is native_strategies._any_callable and repr(returns) == "none()"


T = typing.TypeVar("T")


class Box(typing.Generic[T]):
    pass


class Foreign:
    def do_draw(self, data):
        return 0


class TestFallbacks:
    def test_user_generic_with_a_type_variable(self):
        assert_fails(_engine.from_type(Box[T]),
                     f"Could not resolve {Box[T]!r} to a strategy; consider using register_type_strategy")

    def test_registered_origin(self, registry, handoff):
        registry[Box] = lambda t: _engine.text() if t == Box[int] else NotImplemented
        assert r(Box[int]) == "text()"
        _engine.from_type(Box[str])
        assert handoff == [Box[str]]

    def test_what_the_native_chain_cannot_express(self, registry, handoff):
        registry[Plain] = Foreign()
        things = [typing.Awaitable[int], list[Plain], type["NoSuchName"]]
        for thing in things:
            _engine.from_type(thing)
        assert handoff == things

    def test_argument_errors_propagate(self, registry):
        registry[Plain] = operator.itemgetter("missing")
        with pytest.raises(TypeError):
            _engine.from_type(dict[str, Plain])

    def test_generic_subtypes_hook(self, monkeypatch):
        mine = made("mine")
        monkeypatch.setattr(native_strategies, "_resolve_generic_subtypes",
                            lambda t: mine if t == list[int] else 42 if t == list[str] else None)
        assert _engine.from_type(list[int]) is mine
        assert _engine.from_type(list[str]) == 42
        assert r(list[bytes]) == "lists(binary())"

    def test_generic_subtypes_hook_giving_an_empty_strategy(self, monkeypatch):
        monkeypatch.setattr(native_strategies, "_resolve_generic_subtypes", lambda t: _engine.nothing())
        assert_fails(_engine.from_type(list[int]), "Error: list[int] resolved to an empty strategy")
