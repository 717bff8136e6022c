"""from_type of generic aliases: unions, literals, callables, tuples, builtin
and abstract collections, and their bare forms."""

import collections
import collections.abc as abc
import functools
import inspect
import operator
import typing

import pytest

from quorvantis_fast import _engine, native_strategies
from typeres_helpers import (  # noqa: F401  (fixtures)
    ANY,
    assert_resolution_failed,
    calls,
    handoff,
    registry,
)

pytestmark = pytest.mark.usefixtures("calls", "registry")


def r(thing):
    return repr(_engine.from_type(thing))


class Plain:
    pass


class TestParameterised:
    @pytest.mark.parametrize(
        "thing, expected",
        [
            (list[int], "lists(integers())"),
            (typing.List[str], "lists(text())"),
            (set[float], "sets(floats())"),
            (frozenset[bytes], "frozensets(binary())"),
            (dict[str, int], "dictionaries(text(), integers())"),
            (typing.Dict[bool, list[int]], "dictionaries(booleans(), lists(integers()))"),
            (tuple[int, str], "tuples(integers(), text())"),
            (tuple[int], "tuples(integers())"),
            (tuple[int, ...], "lists(integers()).map(tuple)"),
            (tuple[typing.Any, ...], f"lists({ANY}).map(tuple)"),
            (list[typing.Any], f"lists({ANY})"),
            (typing.Sequence[str], "lists(text())"),
            (typing.Sequence[int], "one_of(lists(integers()), binary())"),
            (typing.Iterable[object], f"one_of(lists({ANY}), binary())"),
            (abc.Collection[int | str], "one_of(lists(one_of(integers(), text())), binary())"),
            (abc.Container[int], "one_of(lists(integers()), binary())"),
            (abc.Container[bool], "lists(booleans())"),
            (abc.Reversible[float], "lists(floats())"),
            (typing.Iterator[int], "lists(integers()).map(iter)"),
            (typing.Generator[int, None, str], "tuples(lists(integers()), text()).map(_make_generator)"),
            (typing.AbstractSet[int], "sets(integers())"),
            (abc.MutableSet[str], "sets(text())"),
            (typing.Mapping[str, float], "dictionaries(text(), floats())"),
            (abc.MutableMapping[int, str], "dictionaries(integers(), text())"),
            (typing.Deque[int], "lists(integers()).map(deque)"),
            (typing.OrderedDict[str, int], "dictionaries(text(), integers()).map(OrderedDict)"),
            (typing.Counter[str], "dictionaries(text(), integers(min_value=0)).map(Counter)"),
            (typing.ChainMap[str, int], "dictionaries(text(), integers()).map(ChainMap)"),
            (typing.Literal[1, "a"], "sampled_from((1, 'a'))"),
            (typing.Final[int], "integers()"),
            (typing.ClassVar[str], "text()"),
            (type[int], "just(<class 'int'>)"),
            (typing.Type[str], "just(<class 'str'>)"),
            (type[int | str], "sampled_from([<class 'int'>, <class 'str'>])"),
            (type[typing.Union[int, "str"]], "sampled_from([<class 'int'>, <class 'str'>])"),
            (type["int"], "just(<class 'int'>)"),
        ],
    )
    def test_resolution(self, thing, expected):
        assert r(thing) == expected

    def test_packs_are_the_library_callables(self):
        mapped = _engine.from_type(typing.DefaultDict[str, int])
        assert repr(mapped).startswith("dictionaries(text(), integers()).map(")
        # The default factory of a drawn defaultdict is None.
        factory = _find_pack(mapped)
        assert isinstance(factory, functools.partial)
        assert factory.func is collections.defaultdict and factory.args == (None,)
        assert factory({"a": 1}) == {"a": 1} and factory({}).default_factory is None

    def test_generator_pack_is_the_package_helper(self):
        s = _engine.from_type(typing.Generator[int, None, str])
        assert _find_pack(s) is native_strategies._make_generator

    @pytest.mark.parametrize(
        "view, base, expected",
        [
            (abc.KeysView[int], "dictionaries(integers(), none())", [1, 2]),
            (abc.ValuesView[str], "dictionaries(integers(), text())", ["a", "b"]),
            (abc.ItemsView[int, str], "dictionaries(integers(), text())", [(1, "a"), (2, "b")]),
        ],
    )
    def test_views_are_dict_methods_of_dictionaries(self, view, base, expected):
        mapped = _engine.from_type(view).wrapped_strategy
        assert repr(mapped.mapped_strategy) == base
        assert isinstance(mapped.pack, operator.methodcaller)
        assert list(mapped.pack({1: "a", 2: "b"})) == expected


def _find_pack(mapped):
    """The pack of a strategy made by .map(), through its typed view."""
    return mapped.wrapped_strategy.pack


class TestUnions:
    @pytest.mark.parametrize(
        "thing",
        [int | None, typing.Optional[int], typing.Union[None, int], None | int],
    )
    def test_none_comes_first(self, thing):
        assert r(thing) == "one_of(none(), integers())"

    def test_members_keep_their_order(self):
        assert r(str | bytes | None | int) == "one_of(none(), text(), binary(), integers())"

    def test_union_with_any(self):
        assert r(typing.Union[int, typing.Any]) == f"one_of(integers(), {ANY})"


class TestHashability:
    def test_whitelisted_elements_are_not_filtered(self):
        for t, s in [(float, "floats()"), (complex, "complex_numbers()"), (type(None), "none()")]:
            assert r(set[t]) == f"sets({s})"

    def test_other_elements_are_filtered_with_can_hash(self):
        assert r(set[list[int]]) == "sets(lists(integers()).filter(can_hash))"
        assert r(frozenset[Plain]).endswith(".filter(can_hash))")
        assert r(dict[tuple[int], str]) == "dictionaries(tuples(integers()).filter(can_hash), text())"
        assert r(typing.Mapping[Plain, int]).startswith("dictionaries(builds(")

    def test_subclasses_of_whitelisted_types_are_filtered(self):
        class MyInt(int):
            pass

        assert r(set[MyInt]).endswith(".filter(can_hash))")


class TestBareGenerics:
    @pytest.mark.parametrize(
        "thing, expected",
        [
            (typing.List, f"lists({ANY})"),
            (typing.Sequence, f"lists({ANY})"),
            (typing.MutableSequence, f"lists({ANY})"),
            (typing.Iterable, f"lists({ANY})"),
            (typing.Collection, f"lists({ANY})"),
            (typing.Set, f"sets({ANY})"),
            (typing.AbstractSet, f"sets({ANY})"),
            (typing.MutableSet, f"sets({ANY})"),
            (typing.FrozenSet, f"frozensets({ANY})"),
            (typing.Dict, f"dictionaries({ANY}, {ANY})"),
            (typing.Mapping, f"dictionaries({ANY}, {ANY})"),
            (typing.Tuple, f"lists({ANY}).map(tuple)"),
            (typing.Iterator, f"lists({ANY}).map(iter)"),
            (tuple[()], "just(())"),
            (typing.Tuple[()], "just(())"),
        ],
    )
    def test_bare_forms(self, thing, expected):
        assert r(thing) == expected


class TestCallables:
    def test_fixed_arity(self):
        s = _engine.from_type(typing.Callable[[int, int], str])
        like, returns, pure = s.args
        assert repr(returns) == "text()" and pure is False
        assert len(inspect.signature(like).parameters) == 2

    def test_any_arguments(self):
        s = _engine.from_type(typing.Callable[..., int])
        like, returns, _ = s.args
        assert like is native_strategies._any_callable and repr(returns) == "integers()"

    def test_bare_callable_uses_the_defaults(self):
        s = _engine.from_type(typing.Callable)
        like, returns, _ = s.args
        assert like is native_strategies._any_callable and repr(returns) == "none()"

    def test_abc_callable(self):
        s = _engine.from_type(abc.Callable[[], bytes])
        like, returns, _ = s.args
        assert len(inspect.signature(like).parameters) == 0 and repr(returns) == "binary()"


T = typing.TypeVar("T")


class Box(typing.Generic[T]):
    def __init__(self, item: T):
        self.item = item


class TestFallbacks:
    def test_generic_user_class_with_a_typevar(self):
        assert_resolution_failed(
            _engine.from_type(Box[T]),
            f"Could not resolve {Box[T]!r} to a strategy; consider using register_type_strategy",
        )

    def test_registered_origin(self, registry):
        seen = []
        registry[Box] = lambda t: seen.append(t) or _engine.text()
        assert r(Box[int]) == "text()" and seen == [Box[int]]

    def test_registered_origin_declining_goes_on(self, registry, handoff):
        registry[Box] = lambda t: NotImplemented
        r(Box[int])
        assert handoff.things == [Box[int]]

    def test_unknown_generic_goes_to_the_python_level(self, handoff):
        assert r(typing.Awaitable[int]) == "python_from_type(typing.Awaitable[int])"

    def test_argument_that_is_not_a_native_strategy(self, registry, handoff):
        class Foreign:
            def do_draw(self, data):
                return 0

        registry[Plain] = Foreign()
        r(list[Plain])
        assert handoff.things == [list[Plain]]

    def test_unresolvable_type_argument(self, handoff):
        r(type["NoSuchName"])
        assert handoff.things == [type["NoSuchName"]]

    def test_argument_errors_propagate(self, registry):
        def fail(t):
            raise LookupError("nope")

        registry[Plain] = fail
        with pytest.raises(LookupError, match="nope"):
            _engine.from_type(dict[str, Plain])

    def test_generic_subtypes_hook(self, monkeypatch):
        mine = _engine.SearchStrategy()
        seen = []

        def hook(thing):
            seen.append(thing)
            return mine if thing == list[int] else None

        monkeypatch.setattr(native_strategies, "_resolve_generic_subtypes", hook)
        assert _engine.from_type(list[int]) is mine
        assert r(list[str]) == "lists(text())"
        assert seen[:2] == [list[int], list[str]]

    def test_generic_subtypes_hook_may_return_anything(self, monkeypatch):
        monkeypatch.setattr(native_strategies, "_resolve_generic_subtypes", lambda t: 42)
        assert _engine.from_type(list[int]) == 42

    @pytest.mark.skipif(not hasattr(_engine, "nothing"), reason="nothing() not built yet")
    def test_generic_subtypes_hook_empty(self, monkeypatch):
        monkeypatch.setattr(native_strategies, "_resolve_generic_subtypes", lambda t: _engine.nothing())
        assert_resolution_failed(
            _engine.from_type(list[int]), "Error: list[int] resolved to an empty strategy"
        )
