"""from_type: the fixed chain of tests (registry, NewType, forward references,
Annotated, builtins, TypeVar, Enum), its recursion guard and bad input."""

import datetime
import decimal
import enum
import fractions
import sys
import threading
import typing
import uuid

import pytest

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed
from quorvantis_fast.strategies import register_type_strategy
from qf_testing import ANY, assert_fails, is_deferred_of, made

pytestmark = pytest.mark.usefixtures("calls", "registry")


def r(thing):
    return repr(_engine.from_type(thing))


@pytest.mark.parametrize(
    "thing, expected",
    [
        (None, "none()"), (type(None), "none()"), (object, ANY), (list, f"lists({ANY})"),
        (set, f"sets({ANY})"), (frozenset, f"frozensets({ANY})"),
        (dict, f"dictionaries({ANY}, {ANY})"), (bool, "booleans()"), (int, "integers()"),
        (float, "floats()"), (str, "text()"), (bytes, "binary()"),
        (complex, "complex_numbers()"), (decimal.Decimal, "decimals()"),
        (fractions.Fraction, "fractions()"), (datetime.datetime, "datetimes()"),
        (datetime.date, "dates()"), (datetime.time, "times()"),
        (datetime.timedelta, "timedeltas()"), (uuid.UUID, "uuids()"),
        (bytearray, "binary().map(bytearray)"), (memoryview, "binary().map(memoryview)"),
        (range, "integers().map(range)"), (slice, "integers().map(slice)"),
        (ExceptionGroup, "builds(<class 'ExceptionGroup'>, text(), lists(builds(<class 'Exception'>), min_size=1))"),
        (BaseExceptionGroup, "builds(<class 'BaseExceptionGroup'>, text(), "
                             "lists(builds(<class 'Exception'>), min_size=1))"),
    ],
)
def test_builtin_types(thing, expected):
    assert r(thing) == expected


def test_any_and_bare_union_are_stored_argument_errors():
    assert_fails(_engine.from_type(typing.Any),
                 "Could not resolve typing.Any to a strategy, because there is no such thing as a "
                 "runtime instance of typing.Any. Consider using an explicit type, or "
                 "register_type_strategy.", InvalidArgument)
    assert_fails(_engine.from_type(typing.Union),
                 "Could not resolve typing.Union to a strategy; a bare Union is not a concrete type. "
                 "Use Union[A, B, ...] with concrete members.", InvalidArgument)
    with pytest.raises(InvalidArgument, match="typing.Any"):
        _engine.BrindlemarData().draw(_engine.from_type(typing.Any))


UserId = typing.NewType("UserId", int)


class TestRegistry:
    def test_entries_win_over_every_builtin_rule(self, registry):
        mine = made("mine")
        registry[int] = registry[type(None)] = mine
        assert _engine.from_type(int) is mine and _engine.from_type(type(None)) is mine

    def test_factory_gets_the_type_and_may_decline(self, registry):
        seen = []
        registry[int] = lambda t: seen.append(t) or _engine.text()
        registry[str] = lambda t: NotImplemented
        assert (r(int), r(str), seen) == ("text()", "text()", [int])

    def test_non_strategy_result(self, registry):
        def factory(t):
            return 5

        registry[int] = factory
        assert_fails(_engine.from_type(int),
                     f"Error: {factory!r} was registered for <class 'int'>, but returned non-strategy 5")

    def test_empty_strategy(self, registry, monkeypatch):
        registry[int] = _engine.nothing()
        assert_fails(_engine.from_type(int), "Error: <class 'int'> resolved to an empty strategy")

    def test_factory_errors_propagate_and_registry_is_read_afresh(self, registry):
        def factory(t):
            raise KeyError("boom")

        registry[int] = factory
        with pytest.raises(KeyError, match="boom"):
            _engine.from_type(int)
        registry[int] = _engine.text()
        assert r(int) == "text()"

    def test_typing_keys_can_be_registered(self, registry):
        ref = typing.ForwardRef("Later")
        register_type_strategy(UserId, _engine.text())
        register_type_strategy(ref, _engine.booleans())
        register_type_strategy(list[int], _engine.floats())
        assert (r(UserId), r(ref), r(list[int])) == ("text()", "booleans()", "floats()")
        with pytest.raises(InvalidArgument, match="must be a type"):
            register_type_strategy(5, _engine.text())


class TestWrappers:
    def test_newtype_forward_ref_and_annotated(self):
        assert r(typing.NewType("Nested", UserId)) == "integers()"
        assert r(typing.ForwardRef("Optional[int]")) == "one_of(none(), integers())"
        assert r(typing.Annotated[list[int], "doc"]) == "lists(integers())"

    def test_unknown_forward_ref_goes_to_the_python_level(self, handoff):
        ref = typing.ForwardRef("NoSuchName")
        _engine.from_type(ref)
        assert handoff == [ref]

    def test_annotated_strategy_is_used_also_inside_a_group(self):
        mine = _engine.SearchStrategy()

        class Group:
            __is_annotated_types_grouped_metadata__ = True

            def __init__(self, fail):
                self.fail = fail

            def __iter__(self):
                if self.fail:
                    raise RuntimeError("not iterable")
                return iter(["x", mine])

        assert _engine.from_type(typing.Annotated[int, "doc", mine]) is mine
        assert _engine.from_type(typing.Annotated[int, Group(True), Group(False)]) is mine


T = typing.TypeVar("T")
ByName = typing.TypeVar("ByName", bound="Target")


class Target:
    pass


class TestTypeVar:
    def test_unconstrained_draws_one_shared_type_then_a_value_of_it(self):
        assert r(T) == (
            "shared(sampled_from([<class 'NoneType'>, <class 'bool'>, <class 'int'>, <class 'float'>, "
            "<class 'str'>, <class 'bytes'>]), key='typevar=~T').flatmap(from_type)")

    def test_constraints_and_bounds(self, registry):
        registry[Target] = _engine.booleans()
        assert r(typing.TypeVar("N", int, str)) == "one_of(integers(), text())"
        assert r(typing.TypeVar("B", bound=float)) == "floats()"
        assert r(ByName) == "booleans()"  # evaluated in this module

    def test_unresolvable_forward_ref_bound(self, registry):
        # The text NoSuch["a\"b"] and a tab, written as an escaped literal.
        odd = typing.TypeVar("odd", bound=typing.ForwardRef('NoSuch["a\\"b"]\t'))
        message = ('Could not resolve ForwardRef("NoSuch[\\"a\\\\\\"b\\"]\\t") to a type. Consider '
                   "register_type_strategy to register a strategy for this forward reference.")
        assert_fails(_engine.from_type(odd), message)
        registry[odd.__bound__] = _engine.text()
        assert r(odd) == "text()"

    def test_entry_for_all_type_variables(self, registry):
        registry[typing.TypeVar] = lambda tv: NotImplemented
        assert_fails(_engine.from_type(T),
                     "Could not resolve ~T to a strategy; consider using register_type_strategy")
        registry[T] = _engine.booleans()
        assert r(T) == "booleans()"


def test_enum_members_in_definition_order(handoff):
    Color = enum.Enum("Color", "RED GREEN BLUE")
    assert _engine.from_type(Color).args == (list(Color),)
    _engine.from_type(Color.RED)
    assert handoff == [Color.RED]


class TestGuard:
    def test_self_reference_becomes_deferred_and_the_entry_goes_away(self, registry):
        inner = []

        def factory(t):
            inner.append(_engine.from_type(t))
            raise ValueError("fail")

        registry[int] = factory
        for _ in range(2):
            with pytest.raises(ValueError):
                _engine.from_type(int)
        assert len(inner) == 2 and all(is_deferred_of(s, _engine.from_type, int) for s in inner)
        del registry[int]
        assert r(int) == "integers()"

    def test_guard_is_per_thread(self, registry):
        other = []

        def factory(t):
            if threading.current_thread() is threading.main_thread():
                worker = threading.Thread(target=lambda: other.append(r(int)))
                worker.start()
                worker.join()
            return _engine.text()

        registry[int] = factory
        assert (r(int), other) == ("text()", ["text()"])

    def test_deep_nesting_and_endless_attributes_raise_recursion_error(self):
        class Everything:
            def __getattr__(self, name):
                return Everything()

        deep = int
        for _ in range(sys.getrecursionlimit() + 100):
            deep = list[deep]
        for thing in (deep, Everything()):
            with pytest.raises(RecursionError):
                _engine.from_type(thing)
        assert r(list[int]) == "lists(integers())"


class Raising:
    """Every attribute read, comparison and hash raises."""

    def __getattribute__(self, name):
        if name == "__class__":
            return Raising
        raise RuntimeError(name)

    def __eq__(self, other):
        raise RuntimeError("eq")

    def __hash__(self):
        raise RuntimeError("hash")


class TestBadInput:
    def test_unresolvable_things_raise_resolution_failed(self):
        for thing in (5, "int", [int], Raising()):
            with pytest.raises(ResolutionFailed):
                _engine.from_type(thing)

    def test_failing_probes_count_as_absent(self, handoff):
        thing = Raising()
        _engine.from_type(thing)
        assert handoff == [thing]

    def test_odd_registries_are_skipped(self, monkeypatch):
        from quorvantis_fast import native_strategies

        monkeypatch.setattr(native_strategies, "_NATIVE_TYPE_REGISTRY", 42)
        assert r(int) == "integers()"
        monkeypatch.delattr(native_strategies, "_NATIVE_TYPE_REGISTRY")
        assert r(list[int]) == "lists(integers())"

    def test_a_blocked_module_fails_the_resolution(self, monkeypatch):
        monkeypatch.setitem(sys.modules, "quorvantis_fast.native_strategies", None)
        with pytest.raises(ImportError):
            _engine.from_type(int)

    def test_references_are_released(self, handoff):
        def resolve_all(things, rounds):
            for _ in range(rounds):
                for thing in things:
                    _engine.from_type(thing)
            handoff.clear()

        things = [Raising(), 10**30, list[int], typing.Optional[str]]
        resolve_all(things, 1)
        before = [sys.getrefcount(t) for t in things]
        resolve_all(things, 50)
        assert [sys.getrefcount(t) for t in things] == before

    def test_argument_errors(self):
        assert repr(_engine.from_type(thing=int)) == "integers()"
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'thing'"):
            _engine.from_type()
        with pytest.raises(TypeError, match="takes 1 positional argument but 2 were given"):
            _engine.from_type(int, str)
