"""Typed strategy views: made by Python, by `wrapped_strategy` and by the
filter rewriting."""

import functools
import operator
import warnings

import pytest
from conftest import K, record
from qf_testing import needs_upstream

from quorvantis_fast import _engine

VIEWS = {
    "ListStrategy": ("min_size", "max_size"),
    "TextStrategy": ("min_size", "max_size"),
    "BytesStrategy": ("min_size", "max_size"),
    "FloatStrategy": ("min_value", "max_value"),
    "IntegersStrategy": ("start", "end"),
    "MappedStrategy": ("mapped_strategy", "pack"),
    "FilteredStrategy": ("filtered_strategy", "flat_conditions", "condition"),
}


def gt(v):
    """Keeps the x with x > v."""
    return functools.partial(operator.lt, v)


class TestMadeByPython:
    @pytest.mark.parametrize("name", VIEWS)
    def test_every_member_answers(self, name):
        view = getattr(_engine, name)()
        assert view.label == view.calc_label() > 0
        assert not view.is_empty and view.validate() is None and view.branches == [view]
        assert view.calc_is_empty(True) is False and isinstance(view.has_reusable_values, bool)
        assert record().draw(view) is None and view.do_draw(record()) is None
        assert view.filter(bool).wrapped_strategy.flat_conditions == (bool,)
        assert view.map(str) is not view and view.flatmap(lambda _: view) is not view
        assert repr(view | view) == "one_of(none(), none())"
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            assert bool(view) is True
        with pytest.raises(AttributeError):
            view.intervals
        view.note = "attributes are kept"
        assert view.note == "attributes are kept"

    @pytest.mark.parametrize("name", VIEWS)
    def test_getters_refuse_other_objects(self, name):
        cls = getattr(_engine, name)
        for field in VIEWS[name]:
            getter = cls.__dict__[field]
            for other in (_engine.SearchStrategy(), 3, "text"):
                with pytest.raises(TypeError):
                    getter.__get__(other, type(other))

    @pytest.mark.parametrize("name", VIEWS)
    def test_cannot_be_made_through_another_constructor(self, name):
        cls = getattr(_engine, name)
        with pytest.raises(TypeError):
            _engine.SearchStrategy.__new__(cls)
        with pytest.raises(TypeError):
            cls.__new__(_engine.SearchStrategy)
        with pytest.raises(TypeError):
            object.__new__(cls)

    def test_wrapped_strategy_refuses_other_objects(self):
        getter = _engine.SearchStrategy.__dict__["wrapped_strategy"]
        with pytest.raises(TypeError):
            getter.__get__(object(), object)


class TestViewsOfFilterChains:
    @needs_upstream
    def test_folded_conditions_leave_the_chain(self, B):
        keep_odd = lambda x: x % 2  # noqa: E731
        base = B.integers(0, 10)
        chain = B.filter_node(B.filter_node(B.filter_node(base, gt(2)), keep_odd), functools.partial(operator.ge, 8))
        view = chain.wrapped_strategy
        assert type(view) is _engine.FilteredStrategy
        assert view.flat_conditions == (keep_odd,) == view.condition
        inner = view.filtered_strategy
        assert type(inner) is _engine.IntegersStrategy and (inner.start, inner.end) == (3, 8)

    @needs_upstream
    def test_all_folded_gives_the_narrowed_view(self, B):
        chain = B.filter_node(B.filter_node(B.integers(0, 10), gt(2)), gt(4))
        view = chain.wrapped_strategy
        assert type(view) is _engine.IntegersStrategy and (view.start, view.end) == (5, 10)

    def test_unfolded_chain_keeps_the_order(self, B):
        c1, c2, c3 = (lambda x: 1), (lambda x: 2), (lambda x: 3)
        chain = B.filter_node(B.filter_node(B.filter_node(B.booleans(), c1), c2), c3)
        view = chain.wrapped_strategy
        assert view.flat_conditions == (c1, c2, c3)
        assert B.kind(view) == K.Filter and B.kind(view.filtered_strategy) == K.Booleans

    def test_filter_errors_propagate(self, B):
        class Refusing(_engine.SearchStrategy):
            def filter(self, condition):
                raise LookupError("no filtering here")

        chain = B.filter_node(B.filter_node(Refusing(), bool), bool)
        with pytest.raises(LookupError, match="no filtering here"):
            chain.wrapped_strategy

    def test_foreign_base_of_a_chain(self, B):
        class Foreign:
            def filter(self, condition):
                return ("filtered", condition)

        chain = B.filter_node(B.filter_node(Foreign(), bool), len)
        # A foreign object's own filter is used; its answer is not a native view.
        with pytest.raises(AttributeError):
            chain.wrapped_strategy


@needs_upstream
class TestViewsMadeByRewriting:
    def test_sizes_reflect_the_rewrite_and_views_are_fresh(self, B):
        s = B.lists(B.booleans(), 0, 9).filter(len)
        assert type(s) is _engine.ListStrategy and (s.min_size, s.max_size) == (1, 9)
        again = s.wrapped_strategy
        assert type(again) is _engine.ListStrategy and again is not s and again.label > s.label
        assert (again.min_size, again.max_size) == (1, 9)

    def test_a_filtered_view_of_a_rewrite_filters_again(self, B):
        s = B.text(_engine.IntervalSet([(48, 57), (97, 102)]), 0, 4).filter(str.isdigit)
        assert type(s) is _engine.FilteredStrategy
        more = s.filter(str.isalpha)
        view = more.wrapped_strategy
        assert view.flat_conditions == (str.isdigit, str.isalpha)
