"""Node queries: emptiness, reusable values, branches, validation."""

import math

import pytest
from conftest import K

from quorvantis_fast import native_strategies
from quorvantis_fast.errors import InvalidArgument, ResolutionFailed


class Foreign:
    def do_draw(self, data):
        return None


class TestEmptiness:
    def test_kinds(self, B):
        nothing = B.nothing()
        empty = [nothing, B.sampled_from([]), B.one_of(), B.one_of(nothing, nothing), B.tuples(B.none(), nothing),
                 B.lists(nothing, 1), B.sets(nothing, 2), B.map_node(nothing, str), B.flatmap_node(nothing, str),
                 B.filter_node(nothing, bool), B.fixed_dictionaries([("a", B.none()), ("b", nothing)])]
        not_empty = [B.tuples(), B.lists(nothing), B.sets(nothing), B.dictionaries(nothing, nothing, 5),
                     B.sampled_from_range(range(0)), B.one_of(Foreign(), nothing), B.map_node(Foreign(), str),
                     B.filter_node(Foreign(), bool), B.invalid("x"), B.fixed_dictionaries([])]
        assert [s.is_empty for s in empty] == [True] * len(empty)
        assert [s.is_empty for s in not_empty] == [False] * len(not_empty)
        assert nothing.calc_is_empty(None) is True and B.none().calc_is_empty(object()) is False

    def test_filters_ask_the_python_side_for_numeric_bases(self, B, monkeypatch):
        calls = []

        def makes_empty(*args):
            calls.append(args)
            return args[2] == 1

        monkeypatch.setattr(native_strategies, "_filter_makes_empty", makes_empty)
        assert B.filter_node(B.integers(1, None), bool).is_empty is True
        assert B.filter_node(B.floats(hi=2.0, allow_nan=True), bool).is_empty is False
        assert calls == [(bool, "int", 1, None, False, False), (bool, "float", -math.inf, 2.0, True, False)]
        calls.clear()
        assert B.filter_node(B.booleans(), bool).is_empty is False
        assert B.filter_node(B.nothing(), bool).is_empty is True
        assert calls == []

    def test_self_referencing_deferred(self, B):
        s = B.deferred(lambda: s)
        assert s.is_empty is True
        assert s.has_reusable_values is True
        assert s.branches == [s]

    def test_guard_entries_do_not_outlive_the_query(self, B):
        # The first answer comes from the guard; a leaked entry would give
        # the same answer again once the definition no longer refers back.
        results = [None]

        def definition():
            return results[0]

        s = B.deferred(definition)
        results[0] = s
        assert (s.is_empty, s.has_reusable_values, s.branches) == (True, True, [s])
        results[0] = B.lists(B.booleans())
        assert (s.is_empty, s.has_reusable_values, s.branches) == (False, False, [results[0]])

    def test_definition_errors_propagate_every_time(self, B):
        def definition():
            raise LookupError("nope")

        s = B.deferred(definition)
        for query in ("is_empty", "is_empty", "has_reusable_values", "branches"):
            with pytest.raises(LookupError):
                getattr(s, query)


class TestReusable:
    def test_kinds(self, B):
        reusable = [B.integers(), B.booleans(), B.just([]), B.nothing(), B.one_of(), B.tuples(), B.invalid("x"),
                    B.tuples(B.integers(), B.just(1)), B.shared("k", B.integers()), B.plain(K.Dates)]
        not_reusable = [B.lists(B.integers()), B.integers().map(str), B.one_of(B.integers(), Foreign()),
                        B.shared("k", B.lists(B.none())), B.shared("k", Foreign()), B.plain(K.Data),
                        B.deferred(lambda: Foreign()), B.plain(K.Permutations)]
        assert [s.has_reusable_values for s in reusable] == [True] * len(reusable)
        assert [s.has_reusable_values for s in not_reusable] == [False] * len(not_reusable)
        assert B.deferred(lambda: B.integers()).calc_has_reusable_values(0) is True


class TestBranches:
    def test_plain_and_deferred(self, B):
        a, b = B.just(1), B.just(2)
        both = B.one_of(a, b)
        assert both.branches == [both]

        class Upstream:
            branches = ("x", "y")

        assert B.deferred(lambda: both).branches == [both]
        assert B.deferred(Upstream).branches == ("x", "y")


class TestValidate:
    def test_stored_errors_found_through_children(self, B):
        bad = B.invalid("bad")
        for s in (B.lists(bad), B.one_of(B.none(), bad), B.tuples(B.none(), bad), B.map_node(bad, str),
                  B.filter_node(bad, bool), B.flatmap_node(bad, str), B.dictionaries(B.none(), bad),
                  B.fixed_dictionaries([(1, bad)]), B.sets(bad)):
            with pytest.raises(InvalidArgument, match="^bad$"):
                s.validate()
        with pytest.raises(ResolutionFailed, match="^unresolved$"):
            B.tuples(B.invalid("unresolved", True)).validate()

    def test_deferred_and_shared_are_not_followed(self, B):
        bad = B.invalid("bad")
        assert B.deferred(lambda: bad).validate() is None
        assert B.shared("k", bad).validate() is None
        assert B.one_of(Foreign(), B.none()).validate() is None

    def test_the_first_error_wins(self, B):
        with pytest.raises(InvalidArgument, match="^first$"):
            B.tuples(B.invalid("first"), B.invalid("second")).validate()

    def test_builds_arguments_must_be_native(self, B):
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 1 \(type=int\)$"):
            B.builds(int, 1).validate()
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got x=Foreign\(\) \(type=F"):
            B.builds(int, B.none(), x=type("Foreign", (), {"__repr__": lambda s: "Foreign()"})()).validate()
        with pytest.raises(InvalidArgument, match="^inner$"):
            B.builds(int, y=B.invalid("inner")).validate()
        assert B.builds(int, B.none(), x=B.none()).validate() is None
