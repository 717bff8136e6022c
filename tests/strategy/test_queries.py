"""Node queries: emptiness, reusable values, branches, validation."""

import math
import typing

import pytest
from qf_testing import UNRESOLVABLE, Unresolvable

from quorvantis_fast import _engine as st, native_strategies
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed

BAD = "min_value=2 cannot be greater than max_value=1"
T = typing.TypeVar("T")


@pytest.fixture
def Foreign(foreign):
    class Foreign(foreign):
        def do_draw(self, data):
            return None

    return Foreign


class TestEmptiness:
    def test_kinds(self, Foreign):
        nothing = st.nothing()
        empty = [nothing, st.one_of(), st.one_of(nothing, nothing), st.tuples(st.none(), nothing),
                 nothing.map(str), nothing.flatmap(str),
                 nothing.filter(bool), st.fixed_dictionaries({"a": st.none(), "b": nothing})]
        not_empty = [st.tuples(), st.lists(nothing), st.sets(nothing), st.dictionaries(nothing, nothing, min_size=5),
                     st.one_of(Foreign(), nothing), st.integers(2, 1), st.fixed_dictionaries({})]
        assert [s.is_empty for s in empty] == [True] * len(empty)
        assert [s.is_empty for s in not_empty] == [False] * len(not_empty)
        assert nothing.calc_is_empty(None) is True and st.none().calc_is_empty(object()) is False

    def test_filters_ask_the_python_side_for_numeric_bases(self, monkeypatch):
        calls = []

        def makes_empty(*args):
            calls.append(args)
            return args[2] == 1

        monkeypatch.setattr(native_strategies, "_filter_makes_empty", makes_empty)
        assert st.integers(1, None).filter(bool).is_empty is True
        assert st.floats(max_value=2.0).filter(bool).is_empty is False
        assert calls == [(bool, "int", 1, None, False, False), (bool, "float", -math.inf, 2.0, False, True)]
        calls.clear()
        assert st.booleans().filter(bool).is_empty is False
        assert st.nothing().filter(bool).is_empty is True
        assert calls == []

    def test_self_referencing_deferred(self):
        s = st.deferred(lambda: s)
        assert s.is_empty is True
        assert s.has_reusable_values is True
        assert s.branches == [s]

    def test_guard_entries_do_not_outlive_the_query(self):
        # The first answer comes from the guard; a leaked entry would give
        # the same answer again once the definition no longer refers back.
        results = [None]

        def definition():
            return results[0]

        s = st.deferred(definition)
        results[0] = s
        assert (s.is_empty, s.has_reusable_values, s.branches) == (True, True, [s])
        results[0] = st.lists(st.booleans())
        assert (s.is_empty, s.has_reusable_values, s.branches) == (False, False, [results[0]])

    def test_definition_errors_propagate_every_time(self):
        def definition():
            raise LookupError("nope")

        s = st.deferred(definition)
        for query in ("is_empty", "is_empty", "has_reusable_values", "branches"):
            with pytest.raises(LookupError):
                getattr(s, query)


class TestReusable:
    def test_kinds(self, Foreign):
        reusable = [st.integers(), st.booleans(), st.just([]), st.nothing(), st.one_of(), st.tuples(), st.integers(2, 1),
                    st.tuples(st.integers(), st.just(1)), st.dates()]
        not_reusable = [st.lists(st.integers()), st.integers().map(str), st.one_of(st.integers(), Foreign()),
                        st.from_type(T), st.data(), st.deferred(lambda: Foreign()), st.permutations([1, 2])]
        assert [s.has_reusable_values for s in reusable] == [True] * len(reusable)
        assert [s.has_reusable_values for s in not_reusable] == [False] * len(not_reusable)
        assert st.deferred(lambda: st.integers()).calc_has_reusable_values(0) is True


class TestBranches:
    def test_plain_and_deferred(self):
        a, b = st.just(1), st.just(2)
        both = st.one_of(a, b)
        assert both.branches == [both]

        class Upstream:
            branches = ("x", "y")

        assert st.deferred(lambda: both).branches == [both]
        assert st.deferred(Upstream).branches == ("x", "y")


class TestValidate:
    def test_stored_errors_found_through_children(self):
        bad = st.integers(2, 1)
        for s in (st.lists(bad), st.one_of(st.none(), bad), st.tuples(st.none(), bad), bad.map(str),
                  bad.filter(bool), bad.flatmap(str), st.dictionaries(st.none(), bad),
                  st.fixed_dictionaries({1: bad}), st.sets(bad)):
            with pytest.raises(InvalidArgument, match=f"^{BAD}$"):
                s.validate()
        with pytest.raises(ResolutionFailed) as info:
            st.tuples(st.from_type(Unresolvable)).validate()
        assert str(info.value) == UNRESOLVABLE

    def test_deferred_is_not_followed(self, Foreign):
        assert st.deferred(lambda: st.integers(2, 1)).validate() is None
        assert st.one_of(Foreign(), st.none()).validate() is None

    def test_the_first_error_wins(self):
        with pytest.raises(InvalidArgument, match=f"^{BAD}$"):
            st.tuples(st.integers(2, 1), st.lists(st.none(), min_size=2, max_size=1)).validate()

    def test_builds_arguments_must_be_native(self):
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 1 \(type=int\)$"):
            st.builds(int, 1).validate()
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got x=Foreign\(\) \(type=F"):
            st.builds(int, st.none(), x=type("Foreign", (), {"__repr__": lambda s: "Foreign()"})()).validate()
        with pytest.raises(InvalidArgument, match=f"^{BAD}$"):
            st.builds(int, y=st.integers(2, 1)).validate()
        assert st.builds(int, st.none(), x=st.none()).validate() is None
