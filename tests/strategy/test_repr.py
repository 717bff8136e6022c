"""Strategy reprs: the call that would build the strategy."""

import pytest
from conftest import K

from quorvantis_fast import _engine


def named(x):
    return x


class TestKinds:
    def test_integers(self, B):
        assert [repr(B.integers(*b)) for b in [(None, None), (5, None), (None, -3), (5, 9)]] == [
            "integers()", "integers(min_value=5)", "integers(max_value=-3)", "integers(5, 9)"]
        assert repr(B.integers(-(2**70), None)) == f"integers(min_value={-(2**70)})"

    @pytest.mark.parametrize("kind, text", [
        ("Booleans", "booleans()"), ("NoneValue", "none()"), ("Nothing", "nothing()"), ("Binary", "binary()"),
        ("Uuids", "uuids()"), ("Dates", "dates()"), ("Times", "times()"), ("Datetimes", "datetimes()"),
        ("Timedeltas", "timedeltas()"), ("ComplexNumbers", "complex_numbers()"), ("Fractions", "fractions()"),
        ("Decimals", "decimals()"), ("Data", "data()"), ("Randoms", "randoms()"),
        ("FixedDictionaries", "SearchStrategy(...)"), ("Permutations", "SearchStrategy(...)"),
        ("IpAddresses", "SearchStrategy(...)"), ("Slices", "SearchStrategy(...)"),
    ])
    def test_fixed_texts(self, B, kind, text):
        assert repr(B.plain(getattr(K, kind))) == text

    def test_arguments_that_are_never_shown(self, B):
        alphabet = _engine.IntervalSet([(97, 98)])
        assert repr(B.floats(0.0, 1.0, width=32)) == "floats()"
        assert repr(B.text(alphabet, 3)) == "text()"
        assert repr(B.binary(0, 2)) == "binary()"
        assert repr(B.lists(B.booleans(), 2, 4, unique_by=str)) == "lists(booleans())"
        assert repr(B.deferred(lambda: 1)) == "SearchStrategy(...)"
        assert repr(B.invalid("bad")) == "SearchStrategy(...)"
        assert repr(B.composite(named, (), {})) == "SearchStrategy(...)"
        assert repr(B.characters(alphabet, "characters(codec='ascii')")) == "characters(codec='ascii')"

    def test_sampled_from_forms(self, B):
        assert repr(B.sampled_from([1, 2])) == "sampled_from([1, 2])"
        assert repr(B.sampled_from([1], is_tuple=True)) == "sampled_from((1,))"
        assert repr(B.sampled_from([1, "a"], is_tuple=True)) == "sampled_from((1, 'a'))"
        assert repr(B.sampled_from([], is_tuple=True)) == "sampled_from(())"
        assert repr(B.sampled_from([])) == "sampled_from([])"
        assert repr(B.sampled_from_range(range(0, 10))) == "sampled_from(range(0, 10))"

    def test_element_whose_repr_fails_prints_empty(self, B):
        class Bad:
            def __repr__(self):
                raise RuntimeError

        assert repr(B.sampled_from([1, Bad(), 2])) == "sampled_from([1, , 2])"

    def test_containers(self, B):
        t, n = B.booleans(), B.none()
        assert repr(B.one_of()) == "one_of()" and repr(B.tuples()) == "tuples()"
        assert repr(B.one_of(t, n)) == "one_of(booleans(), none())"
        assert repr(B.tuples(t, n)) == "tuples(booleans(), none())"
        assert repr(B.sets(t)) == "sets(booleans())" and repr(B.sets(t, frozen=True)) == "frozensets(booleans())"
        assert repr(B.dictionaries(t, n, 2)) == "dictionaries(keys=booleans(), values=none())"
        assert repr(B.just([1, "x"])) == "just([1, 'x'])"
        assert repr(B.shared("k", t)) == "shared(booleans(), key='k')"

    def test_calls_and_functions(self, B, no_upstream):
        t = B.booleans()
        assert repr(B.builds(named)) == "builds(named)"
        assert repr(B.builds(named, t, x=B.none())) == "builds(named, booleans(), x=none())"
        assert repr(B.functions(named, t, True)) == "functions(like=named, returns=booleans(), pure=True)"
        chained = t.map(named).filter(lambda v: v).flatmap(named)
        assert repr(chained) == "booleans().map(named).filter(...).flatmap(named)"

    def test_upstream_function_descriptions(self, B, upstream):
        assert repr(B.booleans().map(lambda v: v + 1)) == "booleans().map(lambda v: <unknown>)"
        assert repr(B.sampled_from([named, int])) == "sampled_from([named, int])"


class TestOverrides:
    def test_str_override_wins_and_others_are_ignored(self, B):
        s = B.integers()
        s._qv_repr_override = "custom"
        assert repr(s) == "custom"
        assert repr(B.lists(s)) == "lists(custom)"
        s._qv_repr_override = 5
        assert repr(s) == "integers()"

    def test_foreign_children_show_their_own_repr(self, B):
        class Foreign:
            def __repr__(self):
                return "foreign()"

        assert repr(B.one_of(Foreign(), B.none())) == "one_of(foreign(), none())"

    def test_repr_errors_propagate(self, B):
        class Bad:
            def __repr__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            repr(B.just(Bad()))
        class Surrogate:
            def __repr__(self):
                return "\ud800"

        with pytest.raises(UnicodeEncodeError):
            repr(B.just(Surrogate()))
