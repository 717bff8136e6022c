"""Filters on collections, text and mapped lists folded into sizes, regex
strategies and narrower inner lists."""

import functools
import re
import types
import warnings

import pytest
from conftest import UNBOUNDED, K
from qf_testing import needs_upstream
from upstream_record import upstream_draws as draws

from quorvantis_fast import _engine

pytestmark = needs_upstream

ABC = _engine.IntervalSet([(ord("a"), ord("c"))])
ALNUM = _engine.IntervalSet([(ord("0"), ord("1")), (ord("a"), ord("b"))])


def min_len(n):
    from quorvantis.internal.filtering import min_len

    return functools.partial(min_len, n)


def max_len(n):
    from quorvantis.internal.filtering import max_len

    return functools.partial(max_len, n)


def collections(B, lo=0, hi=UNBOUNDED):
    """One strategy of each collection kind with the given sizes."""
    return {
        "lists": B.lists(B.integers(0, 3), lo, hi),
        "sets": B.sets(B.integers(0, 50), lo, hi),
        "dictionaries": B.dictionaries(B.integers(0, 50), B.booleans(), lo, hi),
        "text": B.text(ABC, lo, hi),
        "binary": B.binary(lo, hi),
    }


TYPED = {"lists": "ListStrategy", "sets": "ListStrategy", "dictionaries": "ListStrategy",
         "text": "TextStrategy", "binary": "BytesStrategy"}


def sizes(s):
    return s.min_size, s.max_size


class TestNonEmptiness:
    @pytest.mark.parametrize("name", TYPED)
    @pytest.mark.parametrize("condition", [bool, len, lambda x: x])
    def test_non_empty_filters_become_min_size_one(self, B, name, condition):
        s = collections(B)[name].filter(condition)
        assert type(s).__name__ == TYPED[name] and B.kind(s) != K.Filter
        assert s.min_size == 1
        values, invalid = draws(s, 40)
        assert invalid == 0 and all(len(v) >= 1 for v in values)

    @pytest.mark.parametrize("name", TYPED)
    def test_sizes_already_non_empty_or_always_empty(self, B, name):
        nonempty = collections(B, 3, 5)[name]
        assert nonempty.filter(bool) is nonempty
        empty = collections(B, 0, 0)[name].filter(len)
        assert B.kind(empty) == K.Nothing
        assert draws(empty, 3) == ([], 3)

    def test_text_case_methods_warn_and_still_narrow(self, B):
        with pytest.warns(Warning) as caught:
            s = B.text(ABC).filter(str.lower)
        from quorvantis.errors import QuorvantisWarning

        assert caught[0].category is QuorvantisWarning
        assert str(caught[0].message) == ("You applied str.lower as a filter, but this allows all nonempty "
                                          "strings!  Did you mean str.islower?")
        assert s.min_size == 1
        with pytest.warns(Warning, match=r"bytes\.title as a filter.*Did you mean bytes\.istitle\?"):
            B.binary().filter(bytes.title)

    def test_no_warning_for_other_methods(self, B):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            B.text(ABC).filter(str.isupper)
            B.lists(B.booleans()).filter(str.lower)  # only text warns


class TestLengths:
    @pytest.mark.parametrize("name", TYPED)
    def test_length_bounds_narrow_the_sizes(self, B, name):
        s = collections(B, 1, 10)[name]
        assert sizes(s.filter(min_len(3))) == (3, 10)
        assert sizes(s.filter(max_len(4))) == (1, 4)
        assert sizes(s.filter(min_len(3)).filter(max_len(4))) == (3, 4)
        assert s.filter(min_len(0)) is s and s.filter(max_len(20)) is s
        values, invalid = draws(s.filter(min_len(3)).filter(max_len(4)), 30)
        assert invalid == 0 and all(3 <= len(v) <= 4 for v in values)

    def test_unbounded_max_stays_unbounded(self, B):
        assert B.text(ABC).filter(min_len(2)).max_size == float("inf")
        assert B.binary().filter(min_len(2)).max_size == UNBOUNDED

    def test_impossible_lengths_stay_filters(self, B):
        s = B.lists(B.booleans(), 0, 3).filter(min_len(5))
        assert B.kind(s) == K.Filter and type(s) is _engine.SearchStrategy

    def test_remaining_predicate(self, B, monkeypatch):
        import quorvantis.internal.filtering as filtering

        rest = lambda x: x[0] != "a"  # noqa: E731
        monkeypatch.setattr(filtering, "get_integer_predicate_bounds",
                            lambda f: types.SimpleNamespace(constraints={"len": True, "min_value": 2},
                                                            predicate=rest))
        base = B.text(ABC, 0, 6)
        s = base.filter(lambda x: True)
        assert type(s) is _engine.FilteredStrategy
        assert s.flat_conditions == (rest,) and sizes(s.filtered_strategy) == (2, 6)
        assert type(s.filtered_strategy) is _engine.TextStrategy
        values, invalid = draws(s, 60)
        assert values and all(len(v) >= 2 and v[0] != "a" for v in values)

    def test_bad_length_answers_raise(self, B):
        with pytest.raises(OverflowError):
            B.lists(B.booleans()).filter(min_len(-1))
        with pytest.raises(TypeError):
            B.lists(B.booleans()).filter(min_len(2.5))


class TestContentFilters:
    def test_text_content_predicates_need_a_character(self, B):
        s = B.text(ALNUM, 0, 5).filter(str.isalpha)
        assert type(s) is _engine.FilteredStrategy and s.flat_conditions == (str.isalpha,)
        assert sizes(s.filtered_strategy) == (1, 5)
        values, _ = draws(s, 100)
        assert values and all(v.isalpha() for v in values)
        b = B.binary(2, 4).filter(bytes.isdigit)
        assert sizes(b.filtered_strategy) == (2, 4)

    def test_not_for_lists_or_empty_text(self, B):
        assert B.kind(B.lists(B.booleans()).filter(any)) == K.Filter
        assert B.kind(B.text(ABC, 0, 0).filter(str.isalpha)) == K.Filter

    def test_unreadable_filter_sets(self, B, monkeypatch):
        from quorvantis.strategies._internal.collections import ListStrategy

        monkeypatch.delattr(ListStrategy, "_nonempty_filters")
        assert B.kind(B.lists(B.booleans()).filter(bool)) == K.Filter
        monkeypatch.setattr(ListStrategy, "_nonempty_filters", 5, raising=False)
        with pytest.raises(TypeError):
            B.lists(B.booleans()).filter(bool)


class TestRegex:
    def test_match_becomes_an_anchored_search(self, B):
        s = B.text(ABC, 1, 4).filter(re.compile("b").match)
        assert "from_regex('^(?:b)', fullmatch=False)" in repr(s)
        values, _ = draws(s, 120)
        assert values
        assert all(v.startswith("b") and 1 <= len(v) <= 4 and set(v) <= set("abc") for v in values)

    def test_search_and_fullmatch(self, B):
        search = B.text(ABC).filter(re.compile("ca").search)
        assert all("ca" in v for v in draws(search, 60)[0])
        full = B.text(ABC).filter(re.compile("a[bc]").fullmatch)
        values = draws(full, 60)[0]
        assert values and set(values) <= {"ab", "ac"}

    def test_bytes_patterns_on_binary(self, B):
        s = B.binary(0, 3).filter(re.compile(b"\x01").match)
        values = draws(s, 60)[0]
        assert values and all(v.startswith(b"\x01") and len(v) <= 3 for v in values)
        # A text pattern says nothing about bytes.
        assert B.kind(B.binary().filter(re.compile("a").search)) == K.Filter

    def test_methods_that_accept_anything_warn_when_drawn(self, B):
        split = B.text(ABC).filter(re.compile("a").split)
        assert type(split) is _engine.MappedStrategy
        assert split.mapped_strategy.min_size == 1
        with pytest.warns(Warning, match=r"allows any nonempty string!  Did you mean \.search \?"):
            values = draws(split, 10)[0]
        assert values and all(v for v in values)
        for method in ("finditer", "scanner"):
            s = B.text(ABC).filter(getattr(re.compile("a"), method))
            assert type(s) is _engine.MappedStrategy and B.kind(s.mapped_strategy) == K.Text
            with pytest.warns(Warning, match=r"allows any string at all!  Did you mean \.findall \?"):
                draws(s, 1)

    def test_other_pattern_methods_and_bound_methods(self, B):
        pattern = re.compile("a")
        assert B.kind(B.text(ABC).filter(pattern.sub)) == K.Filter
        assert B.kind(B.text(ABC).filter("abc".__contains__)) == K.Filter


class TestMappedLists:
    @pytest.mark.parametrize("pack", [sorted, tuple, list])
    def test_length_filters_move_inside(self, B, pack):
        s = B.lists(B.integers(0, 3)).map(pack).filter(min_len(2))
        assert type(s) is _engine.FilteredStrategy
        mapped = s.filtered_strategy
        assert type(mapped) is _engine.MappedStrategy and mapped.pack is pack
        assert mapped.mapped_strategy.min_size == 2
        values, invalid = draws(s, 40)
        assert invalid == 0 and all(len(v) >= 2 and type(v) is (list if pack is sorted else pack)
                                    for v in values)

    def test_set_pack_still_checks_outside(self, B):
        # The inner list has two elements, but the set may collapse them.
        s = B.lists(B.integers(0, 1)).map(frozenset).filter(min_len(2))
        values, _ = draws(s, 100)
        assert values and all(v == frozenset({0, 1}) for v in values)

    def test_what_does_not_move_inside(self, B):
        lists = B.lists(B.integers(0, 3))
        assert B.kind(lists.map(str).filter(min_len(2))) == K.Filter  # not a collection
        assert B.kind(lists.map(sorted).filter(lambda v: True)) == K.Filter  # nothing to narrow
        assert B.kind(B.sets(B.booleans()).map(sorted).filter(len)) == K.Filter  # base not a list
        assert B.kind(B.integers(0, 3).map(list).filter(len)) == K.Filter


def test_rewrites_release_what_they_hold(B):
    import sys

    base = B.text(ABC, 0, 5)
    condition = min_len(2)
    pattern = re.compile("a").match
    before = (sys.getrefcount(base), sys.getrefcount(condition), sys.getrefcount(pattern))
    for _ in range(200):
        base.filter(condition)
        base.filter(pattern)
        base.filter(str.isalpha)
        with pytest.raises(OverflowError):
            base.filter(min_len(-1))
    assert (sys.getrefcount(base), sys.getrefcount(condition), sys.getrefcount(pattern)) == before
