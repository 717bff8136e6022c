"""from_type: the entry, its recursion guard and the fixed chain of tests
(registry, NewType, forward references, Annotated, None, Any, builtins,
scalar types, TypeVar, Enum)."""

import builtins
import datetime
import decimal
import enum
import fractions
import sys
import typing
import uuid

import pytest

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument
from quorvantis_fast.strategies import register_type_strategy
from typeres_helpers import (  # noqa: F401  (fixtures)
    ANY,
    Call,
    assert_resolution_failed,
    calls,
    handoff,
    is_deferred_of,
    registry,
    stored_error,
)

pytestmark = pytest.mark.usefixtures("calls", "registry")


def r(thing):
    return repr(_engine.from_type(thing))


class TestBuiltins:
    @pytest.mark.parametrize(
        "thing, expected",
        [
            (None, "none()"),
            (type(None), "none()"),
            (object, ANY),
            (list, f"lists({ANY})"),
            (set, f"sets({ANY})"),
            (frozenset, f"frozensets({ANY})"),
            (dict, f"dictionaries({ANY}, {ANY})"),
            (bool, "booleans()"),
            (int, "integers()"),
            (float, "floats()"),
            (str, "text()"),
            (bytes, "binary()"),
            (complex, "complex_numbers()"),
            (decimal.Decimal, "decimals()"),
            (fractions.Fraction, "fractions()"),
            (datetime.datetime, "datetimes()"),
            (datetime.date, "dates()"),
            (datetime.time, "times()"),
            (datetime.timedelta, "timedeltas()"),
            (uuid.UUID, "uuids()"),
            (bytearray, "binary().map(bytearray)"),
            (memoryview, "binary().map(memoryview)"),
            (range, "integers().map(range)"),
            (slice, "integers().map(slice)"),
        ],
    )
    def test_resolves_to_its_constructor(self, thing, expected):
        assert r(thing) == expected

    def test_dict_keys_and_values_are_separate_unions(self):
        s = _engine.from_type(dict)
        keys, values = s.args
        assert keys is not values

    def test_each_bare_container_gets_a_fresh_union(self):
        assert _engine.from_type(list).args[0] is not _engine.from_type(list).args[0]

    def test_date_is_not_taken_for_datetime(self):
        # datetime subclasses date; the table compares by identity.
        assert r(datetime.date) == "dates()"

    @pytest.mark.skipif(sys.version_info < (3, 11), reason="ExceptionGroup is 3.11+")
    @pytest.mark.parametrize("group", ["ExceptionGroup", "BaseExceptionGroup"])
    def test_exception_groups(self, group):
        cls = getattr(builtins, group)
        s = _engine.from_type(cls)
        assert s.name == "builds"
        target, message, members = s.args
        assert target is cls and repr(message) == "text()"
        assert members.name == "lists" and members.kwargs == {"min_size": 1}
        assert repr(members.args[0]) == "builds(<class 'Exception'>)"


class TestStoredErrors:
    def test_any_is_an_invalid_argument_at_validation(self):
        s = _engine.from_type(typing.Any)
        assert stored_error(s) == (
            InvalidArgument,
            "Could not resolve typing.Any to a strategy, because there is no such thing as a "
            "runtime instance of typing.Any. Consider using an explicit type, or "
            "register_type_strategy.",
        )

    def test_bare_union(self):
        s = _engine.from_type(typing.Union)
        assert stored_error(s) == (
            InvalidArgument,
            "Could not resolve typing.Union to a strategy; a bare Union is not a concrete type. "
            "Use Union[A, B, ...] with concrete members.",
        )

    def test_a_stored_error_is_also_raised_by_a_draw(self):
        s = _engine.from_type(typing.Any)
        with pytest.raises(InvalidArgument, match="typing.Any"):
            _engine.BrindlemarData().draw(s)


class TestRegistry:
    def test_registered_strategy_wins_over_builtin_rules(self, registry):
        mine = Call()
        mine.text = "mine"
        registry[int] = mine
        registry[type(None)] = mine
        assert _engine.from_type(int) is mine
        assert _engine.from_type(type(None)) is mine

    def test_registered_factory_gets_the_type(self, registry):
        seen = []

        def factory(t):
            seen.append(t)
            return _engine.text()

        registry[int] = factory
        assert r(int) == "text()" and seen == [int]

    def test_not_implemented_goes_on_with_the_chain(self, registry):
        registry[int] = lambda t: NotImplemented
        assert r(int) == "integers()"

    def test_non_strategy_result(self, registry):
        def factory(t):
            return 5

        registry[int] = factory
        assert_resolution_failed(
            _engine.from_type(int),
            f"Error: {factory!r} was registered for <class 'int'>, but returned non-strategy 5",
        )

    def test_foreign_strategy_counts_as_a_strategy(self, registry):
        class Foreign:
            def do_draw(self, data):
                return 1

        foreign = Foreign()
        registry[int] = foreign
        assert _engine.from_type(int) is foreign

    def test_factory_errors_propagate(self, registry):
        def factory(t):
            raise KeyError("boom")

        registry[int] = factory
        with pytest.raises(KeyError, match="boom"):
            _engine.from_type(int)

    def test_registry_is_read_afresh(self, registry):
        assert r(int) == "integers()"
        registry[int] = _engine.text()
        assert r(int) == "text()"

    def test_unhashable_thing_skips_the_registry(self, registry, handoff):
        registry[int] = _engine.text()
        thing = [int]
        assert r(thing) == "python_from_type([<class 'int'>])"

    def test_typing_keys_can_be_registered(self, registry):
        ref = typing.ForwardRef("Later")
        register_type_strategy(UserId, _engine.text())
        register_type_strategy(ref, _engine.booleans())
        register_type_strategy(list[int], _engine.floats())
        assert r(UserId) == "text()" and r(ref) == "booleans()" and r(list[int]) == "floats()"
        with pytest.raises(InvalidArgument, match="must be a type"):
            register_type_strategy(5, _engine.text())

    @pytest.mark.skipif(not hasattr(_engine, "nothing"), reason="nothing() not built yet")
    def test_empty_registered_strategy(self, registry):
        registry[int] = _engine.nothing()
        assert_resolution_failed(_engine.from_type(int), "Error: <class 'int'> resolved to an empty strategy")


UserId = typing.NewType("UserId", int)
Nested = typing.NewType("Nested", UserId)


class TestWrappers:
    def test_newtype_resolves_its_supertype(self):
        assert r(UserId) == "integers()"
        assert r(Nested) == "integers()"

    def test_newtype_can_be_registered(self, registry):
        registry[UserId] = _engine.text()
        assert r(UserId) == "text()"
        assert r(Nested) == "text()"

    def test_forward_ref_evaluates_in_the_typing_namespace(self):
        assert r(typing.ForwardRef("int")) == "integers()"
        assert r(typing.ForwardRef("Optional[int]")) == "one_of(none(), integers())"

    def test_unknown_forward_ref_goes_to_the_python_level(self, handoff):
        ref = typing.ForwardRef("NoSuchName")
        assert r(ref) == "python_from_type(ForwardRef('NoSuchName'))"
        assert handoff.things == [ref]

    def test_annotated_with_a_strategy_uses_it(self):
        mine = _engine.SearchStrategy()
        assert _engine.from_type(typing.Annotated[int, "doc", mine]) is mine

    def test_annotated_without_a_strategy_resolves_the_origin(self):
        assert r(typing.Annotated[int, "doc"]) == "integers()"
        assert r(typing.Annotated[list[int], 1, 2]) == "lists(integers())"

    def test_grouped_metadata_is_searched(self):
        mine = _engine.SearchStrategy()

        class Group:
            __is_annotated_types_grouped_metadata__ = True

            def __iter__(self):
                return iter(["x", mine])

        class Broken:
            __is_annotated_types_grouped_metadata__ = True

            def __iter__(self):
                raise RuntimeError("not iterable")

        assert _engine.from_type(typing.Annotated[int, Broken(), Group()]) is mine

    def test_metadata_object_that_is_not_a_tuple(self):
        class Fake:
            __metadata__ = [_engine.SearchStrategy()]
            __origin__ = str

        assert r(Fake()) == "text()"


T = typing.TypeVar("T")
Num = typing.TypeVar("Num", int, str)
Bounded = typing.TypeVar("Bounded", bound=float)
ByName = typing.TypeVar("ByName", bound="Target")
Dangling = typing.TypeVar("Dangling", bound="NoSuchTarget")


class Target:
    pass


class TestTypeVar:
    def test_unconstrained_draws_a_shared_type_then_a_value(self):
        s = _engine.from_type(T)
        assert r(T) == (
            "shared(sampled_from([<class 'NoneType'>, <class 'bool'>, <class 'int'>, "
            "<class 'float'>, <class 'str'>, <class 'bytes'>]), key='typevar=~T')"
            ".flatmap(from_type)"
        )
        assert s.is_empty is False

    def test_constraints_give_one_of(self):
        assert r(Num) == "one_of(integers(), text())"

    def test_bound_is_resolved(self):
        assert r(Bounded) == "floats()"

    def test_forward_ref_bound_is_evaluated_in_the_defining_module(self, registry):
        registry[Target] = _engine.booleans()
        assert r(ByName) == "booleans()"

    def test_unresolvable_forward_ref_bound(self):
        assert_resolution_failed(
            _engine.from_type(Dangling),
            'Could not resolve ForwardRef("NoSuchTarget") to a type. Consider '
            "register_type_strategy to register a strategy for this forward reference.",
        )

    def test_forward_ref_text_is_escaped(self):
        # The text NoSuch["a\"b"] followed by a tab.
        odd = typing.TypeVar("odd", bound=typing.ForwardRef('NoSuch["a\\"b"]\t'))
        assert_resolution_failed(
            _engine.from_type(odd),
            'Could not resolve ForwardRef("NoSuch[\\"a\\\\\\"b\\"]\\t") to a type. Consider '
            "register_type_strategy to register a strategy for this forward reference.",
        )

    def test_registered_forward_ref_bound(self, registry):
        registry[typing.ForwardRef("NoSuchTarget")] = _engine.text()
        assert r(Dangling) == "text()"

    def test_registry_entry_for_all_typevars(self, registry):
        seen = []
        registry[typing.TypeVar] = lambda tv: seen.append(tv) or _engine.text()
        assert r(T) == "text()" and seen == [T]

    def test_registry_entry_for_all_typevars_declining(self, registry):
        registry[typing.TypeVar] = lambda tv: NotImplemented
        assert_resolution_failed(
            _engine.from_type(T), "Could not resolve ~T to a strategy; consider using register_type_strategy"
        )

    def test_registry_entry_for_one_typevar_wins(self, registry):
        registry[typing.TypeVar] = lambda tv: _engine.text()
        registry[T] = _engine.booleans()
        assert r(T) == "booleans()"


class Color(enum.Enum):
    RED = 1
    GREEN = 2
    BLUE = 3


class Empty(enum.Enum):
    pass


class TestEnum:
    def test_members_in_definition_order(self):
        s = _engine.from_type(Color)
        assert s.name == "sampled_from"
        assert s.args == ([Color.RED, Color.GREEN, Color.BLUE],)

    def test_int_enum_is_an_enum_too(self):
        class Level(enum.IntEnum):
            LOW = 1
            HIGH = 2

        assert _engine.from_type(Level).args == ([Level.LOW, Level.HIGH],)

    def test_member_instance_is_not_an_enum_class(self, handoff):
        _engine.from_type(Color.RED)
        assert handoff.things == [Color.RED]

    def test_empty_enum(self):
        assert _engine.from_type(Empty).args == ([],)


class TestRecursionGuard:
    def test_self_reference_becomes_deferred(self, registry):
        inner = []

        def factory(t):
            inner.append(_engine.from_type(t))
            return _engine.text()

        registry[int] = factory
        assert r(int) == "text()"
        (lazy,) = inner
        assert is_deferred_of(lazy, _engine.from_type, int)

    def test_guard_entry_is_removed_after_success_and_error(self, registry):
        calls_seen = []

        def factory(t):
            calls_seen.append(_engine.from_type(t))
            raise ValueError("fail")

        registry[int] = factory
        for _ in range(2):
            with pytest.raises(ValueError):
                _engine.from_type(int)
        # Each outer call saw the lazy answer once: the entry did not stay.
        assert len(calls_seen) == 2
        del registry[int]
        assert r(int) == "integers()"

    def test_deep_nesting_raises_recursion_error(self):
        thing = int
        for _ in range(sys.getrecursionlimit() + 100):
            thing = list[thing]
        with pytest.raises(RecursionError):
            _engine.from_type(thing)
        assert r(list[int]) == "lists(integers())"

    def test_argument_errors(self):
        assert repr(_engine.from_type(thing=int)) == "integers()"
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'thing'"):
            _engine.from_type()
        with pytest.raises(TypeError, match="takes 1 positional argument but 2 were given"):
            _engine.from_type(int, str)
        with pytest.raises(TypeError, match="unexpected keyword argument 'x'"):
            _engine.from_type(int, x=1)
