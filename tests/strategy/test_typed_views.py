"""Typed strategy views: made by Python, and views of filter chains."""

import functools
import operator
import warnings

import pytest
from conftest import K
from qf_testing import needs_upstream, seeded_record as record

from quorvantis_fast import _engine

VIEWS = ["ListStrategy", "TextStrategy", "BytesStrategy", "FloatStrategy", "IntegersStrategy",
         "MappedStrategy", "FilteredStrategy"]


def gt(v):
    """Keeps the x with x > v."""
    return functools.partial(operator.lt, v)


@pytest.mark.parametrize("name", VIEWS)
def test_views_made_by_python_answer_every_member(name):
    cls = getattr(_engine, name)
    view = cls()
    assert view.label == view.calc_label() and not view.is_empty and view.validate() is None
    assert view.branches == [view] and view.calc_is_empty(True) is False
    assert view.do_draw(record()) is None and view.do_draw(object()) is None
    assert view.filter(bool).wrapped_strategy.flat_conditions == (bool,)
    assert view.map(str) is not view and view.flatmap(lambda _: view) is not view
    assert repr(view | view) == "one_of(none(), none())"
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert bool(view)
    with pytest.raises(AttributeError):
        view.intervals
    for make in (lambda: _engine.SearchStrategy.__new__(cls), lambda: cls.__new__(_engine.SearchStrategy),
                 lambda: object.__new__(cls)):
        with pytest.raises(TypeError):
            make()


class TestFilterChains:
    @needs_upstream
    def test_folded_conditions_leave_the_chain(self, B):
        keep_odd = lambda x: x % 2  # noqa: E731
        chain = B.filter_node(B.filter_node(B.filter_node(B.integers(0, 10), gt(2)), keep_odd),
                              functools.partial(operator.ge, 8))
        view = chain.wrapped_strategy
        assert type(view) is _engine.FilteredStrategy and view.flat_conditions == (keep_odd,) == view.condition
        assert (view.filtered_strategy.start, view.filtered_strategy.end) == (3, 8)
        all_folded = B.filter_node(B.filter_node(B.integers(0, 10), gt(2)), gt(4)).wrapped_strategy
        assert type(all_folded) is _engine.IntegersStrategy and (all_folded.start, all_folded.end) == (5, 10)

    @needs_upstream
    def test_a_filter_of_a_rewritten_filter(self, B):
        s = B.text(_engine.IntervalSet([(48, 57), (97, 102)]), 0, 4).filter(str.isdigit)
        assert s.filter(str.isalpha).wrapped_strategy.flat_conditions == (str.isdigit, str.isalpha)

    def test_unfolded_conditions_keep_their_order(self, B):
        c1, c2, c3 = (lambda x: 1), (lambda x: 2), (lambda x: 3)
        view = B.filter_node(B.filter_node(B.filter_node(B.booleans(), c1), c2), c3).wrapped_strategy
        assert view.flat_conditions == (c1, c2, c3) and B.kind(view.filtered_strategy) == K.Booleans

    def test_errors_of_the_filter_calls_propagate(self, B):
        class Refusing(_engine.SearchStrategy):
            def filter(self, condition):
                raise LookupError("no filtering here")

        with pytest.raises(LookupError, match="no filtering here"):
            B.filter_node(B.filter_node(Refusing(), bool), bool).wrapped_strategy
