"""Filters on collections, text and mapped lists folded into sizes, regex
strategies and narrower inner lists."""

import functools
import re
import sys
import types

import pytest
from qf_testing import is_filter, is_nothing, needs_upstream, seeded_draws as native_draws, upstream_draws as draws

from quorvantis_fast import _engine
from quorvantis_fast import _engine as st

pytestmark = needs_upstream

ABC = _engine.IntervalSet([(ord("a"), ord("c"))])


def length(name, n):
    """``partial(min_len, n)`` or ``partial(max_len, n)`` of the upstream."""
    import quorvantis.internal.filtering as filtering

    return functools.partial(getattr(filtering, name), n)


def collections(lo=0, hi=None):
    """One strategy of each collection kind with the given sizes."""
    return {
        "ListStrategy": [st.lists(st.integers(0, 3), min_size=lo, max_size=hi), st.sets(st.integers(0, 50), min_size=lo, max_size=hi),
                         st.dictionaries(st.integers(0, 50), st.booleans(), min_size=lo, max_size=hi)],
        "TextStrategy": [st.text(ABC, min_size=lo, max_size=hi)],
        "BytesStrategy": [st.binary(min_size=lo, max_size=hi)],
    }


def each_collection(lo=0, hi=None):
    for typed, strategies in collections(lo, hi).items():
        for s in strategies:
            yield typed, s


class TestSizes:
    @pytest.mark.parametrize("condition", [bool, len, lambda x: x])
    def test_non_empty_filters(self, condition):
        for typed, s in each_collection():
            r = s.filter(condition)
            assert type(r).__name__ == typed and r.min_size == 1
            values, invalid = draws(r, 30)
            assert invalid == 0 and all(len(v) >= 1 for v in values)
        for _, s in each_collection(3, 5):
            assert s.filter(condition) is s
        for _, s in each_collection(0, 0):
            assert is_nothing(s.filter(condition))

    def test_length_filters(self):
        for typed, s in each_collection(1, 10):
            both = s.filter(length("min_len", 3)).filter(length("max_len", 4))
            assert type(both).__name__ == typed and (both.min_size, both.max_size) == (3, 4)
            assert s.filter(length("min_len", 0)) is s and s.filter(length("max_len", 20)) is s
            assert all(3 <= len(v) <= 4 for v in draws(both, 30)[0])
        assert st.text(ABC).filter(length("min_len", 2)).max_size == float("inf")
        assert st.binary().filter(length("min_len", 2)).max_size == st.binary().wrapped_strategy.max_size
        # Impossible lengths are no rewrite: the filter rejects every draw.
        assert is_filter(st.lists(st.booleans(), max_size=3).filter(length("min_len", 5)))
        with pytest.raises(OverflowError):
            st.lists(st.booleans()).filter(length("min_len", -1))

    def test_remaining_predicate(self, monkeypatch):
        import quorvantis.internal.filtering as filtering

        rest = lambda x: x[0] != "a"  # noqa: E731
        monkeypatch.setattr(filtering, "get_integer_predicate_bounds",
                            lambda f: types.SimpleNamespace(constraints={"len": 1, "min_value": 2}, predicate=rest))
        s = st.text(ABC, max_size=6).filter(lambda x: True)
        assert type(s) is _engine.FilteredStrategy and s.flat_conditions == (rest,)
        assert type(s.filtered_strategy) is _engine.TextStrategy and s.filtered_strategy.min_size == 2
        values = draws(s, 60)[0]
        assert values and all(len(v) >= 2 and v[0] != "a" for v in values)

    def test_content_filters_need_one_element(self):
        s = st.text(_engine.IntervalSet([(48, 49), (97, 98)]), max_size=5).filter(str.isalpha)
        assert s.flat_conditions == (str.isalpha,) and s.filtered_strategy.min_size == 1
        values = draws(s, 100)[0]
        assert values and all(v.isalpha() for v in values)
        assert st.binary(min_size=2, max_size=4).filter(bytes.isdigit).filtered_strategy.min_size == 2
        assert is_filter(st.lists(st.booleans()).filter(any))
        assert is_filter(st.text(ABC, max_size=0).filter(str.isalpha))

    def test_case_methods_warn_and_still_narrow(self):
        from quorvantis.errors import QuorvantisWarning

        message = ("You applied str.lower as a filter, but this allows all nonempty strings!  "
                   "Did you mean str.islower?")
        with pytest.warns(QuorvantisWarning, match=re.escape(message)):
            assert st.text(ABC).filter(str.lower).min_size == 1
        with pytest.warns(QuorvantisWarning, match=r"bytes\.title as a filter.*Did you mean bytes\.istitle\?"):
            st.binary().filter(bytes.title)

    def test_unreadable_filter_sets(self, monkeypatch):
        from quorvantis.strategies._internal.collections import ListStrategy

        monkeypatch.delattr(ListStrategy, "_nonempty_filters")
        assert is_filter(st.lists(st.booleans()).filter(bool))
        monkeypatch.setattr(ListStrategy, "_nonempty_filters", 5, raising=False)
        with pytest.raises(TypeError):
            st.lists(st.booleans()).filter(bool)


class TestRegex:
    def test_search_match_and_fullmatch(self):
        match = st.text(ABC, min_size=1, max_size=4).filter(re.compile("b").match)
        assert "from_regex('^(?:b)', fullmatch=False)" in repr(match)
        values = draws(match, 120)[0]
        assert values and all(v.startswith("b") and len(v) <= 4 and set(v) <= set("abc") for v in values)
        assert all("ca" in v for v in draws(st.text(ABC).filter(re.compile("ca").search), 60)[0])
        assert set(draws(st.text(ABC).filter(re.compile("a[bc]").fullmatch), 60)[0]) == {"ab", "ac"}
        values = draws(st.binary(max_size=3).filter(re.compile(b"\x01").match), 60)[0]
        assert values and all(v.startswith(b"\x01") and len(v) <= 3 for v in values)

    def test_patterns_and_methods_that_say_nothing(self):
        assert is_filter(st.binary().filter(re.compile("a").search))
        assert is_filter(st.text(ABC).filter(re.compile("a").sub))
        assert is_filter(st.text(ABC).filter("abc".__contains__))

    def test_methods_that_accept_anything_warn_when_drawn(self):
        split = st.text(ABC).filter(re.compile("a").split)
        assert type(split) is _engine.MappedStrategy and split.mapped_strategy.min_size == 1
        with pytest.warns(Warning, match=r"allows any nonempty string!  Did you mean \.search \?"):
            assert all(draws(split, 10)[0])
        for method in ("finditer", "scanner"):
            s = st.text(ABC).filter(getattr(re.compile("a"), method))
            assert type(s.mapped_strategy.wrapped_strategy) is _engine.TextStrategy
            with pytest.warns(Warning, match=r"allows any string at all!  Did you mean \.findall \?"):
                draws(s, 1)


class TestMappedLists:
    @pytest.mark.parametrize("pack", [sorted, tuple, frozenset])
    def test_length_filters_move_inside(self, pack):
        s = _engine.lists(_engine.integers(0, 1)).map(pack).filter(length("min_len", 2))
        assert type(s) is _engine.FilteredStrategy
        assert s.filtered_strategy.pack is pack and s.filtered_strategy.mapped_strategy.min_size == 2
        values, _ = native_draws(s, 100)
        assert values and all(len(v) >= 2 for v in values)
        if pack is frozenset:  # the set may collapse the list: still checked outside
            assert set(values) == {frozenset({0, 1})}

    def test_what_does_not_move_inside(self):
        lists = st.lists(st.integers(0, 3))
        assert is_filter(lists.map(str).filter(length("min_len", 2)))
        assert is_filter(lists.map(sorted).filter(lambda v: True))
        assert is_filter(st.sets(st.booleans()).map(sorted).filter(len))
        assert is_filter(st.integers(0, 3).map(list).filter(len))


def test_rewrites_release_what_they_hold():
    base = st.text(ABC, max_size=5)
    condition, pattern = length("min_len", 2), re.compile("a").match
    before = (sys.getrefcount(base), sys.getrefcount(condition), sys.getrefcount(pattern))
    for _ in range(200):
        base.filter(condition), base.filter(pattern), base.filter(str.isalpha)
        with pytest.raises(OverflowError):
            base.filter(length("min_len", -1))
    assert (sys.getrefcount(base), sys.getrefcount(condition), sys.getrefcount(pattern)) == before
