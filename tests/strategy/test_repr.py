"""Strategy reprs: the call that would build the strategy."""

import re
import typing

import pytest

from quorvantis_fast import _engine
from quorvantis_fast import _engine as st


def named(x):
    return x


class TestKinds:
    def test_integers(self):
        assert [repr(st.integers(*b)) for b in [(None, None), (5, None), (None, -3), (5, 9)]] == [
            "integers()", "integers(min_value=5)", "integers(max_value=-3)", "integers(5, 9)"]
        assert repr(st.integers(-(2**70), None)) == f"integers(min_value={-(2**70)})"

    @pytest.mark.parametrize("make, text", [
        (st.booleans, "booleans()"), (st.none, "none()"), (st.nothing, "nothing()"), (st.binary, "binary()"),
        (st.uuids, "uuids()"), (st.dates, "dates()"), (st.times, "times()"), (st.datetimes, "datetimes()"),
        (st.timedeltas, "timedeltas()"), (st.complex_numbers, "complex_numbers()"), (st.fractions, "fractions()"),
        (st.decimals, "decimals()"), (st.data, "data()"), (st.randoms, "randoms()"),
        (lambda: st.fixed_dictionaries({}), "SearchStrategy(...)"), (lambda: st.permutations([1]), "SearchStrategy(...)"),
        (st.ip_addresses, "SearchStrategy(...)"), (lambda: st.slices(3), "SearchStrategy(...)"),
    ])
    def test_fixed_texts(self, make, text):
        assert repr(make()) == text

    def test_arguments_that_are_never_shown(self):
        alphabet = _engine.IntervalSet([(97, 98)])
        assert repr(st.floats(0.0, 1.0, width=32)) == "floats()"
        assert repr(st.text(alphabet, min_size=3)) == "text()"
        assert repr(st.binary(max_size=2)) == "binary()"
        assert repr(st.lists(st.booleans(), min_size=2, max_size=4, unique_by=str)) == "lists(booleans())"
        assert repr(st.deferred(lambda: 1)) == "SearchStrategy(...)"
        assert repr(st.integers(2, 1)) == "SearchStrategy(...)"
        assert repr(st._composite_strategy(named, (), {})) == "SearchStrategy(...)"

    def test_sampled_from_forms(self):
        assert repr(st.sampled_from([1, 2])) == "sampled_from([1, 2])"
        assert repr(st.sampled_from((1,))) == "sampled_from((1,))"
        assert repr(st.sampled_from((1, "a"))) == "sampled_from((1, 'a'))"
        assert repr(st.sampled_from(range(0, 10))) == "sampled_from(range(0, 10))"

    def test_element_whose_repr_fails_prints_empty(self):
        class Bad:
            def __repr__(self):
                raise RuntimeError

        assert repr(st.sampled_from([1, Bad(), 2])) == "sampled_from([1, , 2])"

    def test_containers(self):
        t, n = st.booleans(), st.none()
        assert repr(st.one_of()) == "one_of()" and repr(st.tuples()) == "tuples()"
        assert repr(st.one_of(t, n)) == "one_of(booleans(), none())"
        assert repr(st.tuples(t, n)) == "tuples(booleans(), none())"
        assert repr(st.sets(t)) == "sets(booleans())" and repr(st.frozensets(t)) == "frozensets(booleans())"
        assert repr(st.dictionaries(t, n, min_size=2)) == "dictionaries(keys=booleans(), values=none())"
        assert repr(st.just([1, "x"])) == "just([1, 'x'])"
        shared = repr(st.from_type(typing.TypeVar("T")))
        assert re.fullmatch(r"shared\(sampled_from\(\[.*NoneType.*\]\), key='typevar=~T'\)\.flatmap\(from_type\)", shared)

    def test_calls_and_functions(self, no_upstream):
        t = st.booleans()
        assert repr(st.builds(named)) == "builds(named)"
        assert repr(st.builds(named, t, x=st.none())) == "builds(named, booleans(), x=none())"
        assert repr(st._functions_strategy(named, t, True)) == "functions(like=named, returns=booleans(), pure=True)"
        chained = t.map(named).filter(lambda v: v).flatmap(named)
        assert repr(chained) == "booleans().map(named).filter(...).flatmap(named)"

    def test_upstream_function_descriptions(self, upstream):
        assert repr(st.booleans().map(lambda v: v + 1)) == "booleans().map(lambda v: <unknown>)"
        assert repr(st.sampled_from([named, int])) == "sampled_from([named, int])"


class TestOverrides:
    def test_str_override_wins_and_others_are_ignored(self):
        s = st.integers()
        s._qv_repr_override = "custom"
        assert repr(s) == "custom"
        assert repr(st.lists(s)) == "lists(custom)"
        s._qv_repr_override = 5
        assert repr(s) == "integers()"

    def test_foreign_children_show_their_own_repr(self, foreign):
        class Foreign(foreign):
            def __repr__(self):
                return "foreign()"

        assert repr(st.one_of(Foreign(), st.none())) == "one_of(foreign(), none())"

    def test_repr_errors_propagate(self):
        class Bad:
            def __repr__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            repr(st.just(Bad()))
        class Surrogate:
            def __repr__(self):
                return "\ud800"

        with pytest.raises(UnicodeEncodeError):
            repr(st.just(Surrogate()))
