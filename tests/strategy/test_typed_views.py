"""Typed strategy views: made by Python, and views of filter chains."""

import functools
import operator
import warnings

import pytest
from qf_testing import needs_upstream, seeded_record as record

from quorvantis_fast import _engine
from quorvantis_fast import _engine as st

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
    def test_folded_conditions_leave_the_chain(self):
        keep_odd = lambda x: x % 2  # noqa: E731
        chain = st.integers(0, 10).filter(gt(2)).filter(keep_odd).filter(functools.partial(operator.ge, 8))
        view = chain.wrapped_strategy
        assert type(view) is _engine.FilteredStrategy and view.flat_conditions == (keep_odd,) == view.condition
        assert (view.filtered_strategy.start, view.filtered_strategy.end) == (3, 8)
        all_folded = st.integers(0, 10).filter(gt(2)).filter(gt(4)).wrapped_strategy
        assert type(all_folded) is _engine.IntegersStrategy and (all_folded.start, all_folded.end) == (5, 10)

    @needs_upstream
    def test_a_filter_of_a_rewritten_filter(self):
        s = st.text(_engine.IntervalSet([(48, 57), (97, 102)]), max_size=4).filter(str.isdigit)
        assert s.filter(str.isalpha).wrapped_strategy.flat_conditions == (str.isdigit, str.isalpha)

    def test_unfolded_conditions_keep_their_order(self):
        c1, c2, c3 = (lambda x: 1), (lambda x: 2), (lambda x: 3)
        view = st.booleans().filter(c1).filter(c2).filter(c3).wrapped_strategy
        assert view.flat_conditions == (c1, c2, c3) and repr(view.filtered_strategy) == "booleans()"

    def test_errors_of_the_filter_calls_propagate(self):
        class Refusing(_engine.SearchStrategy):
            def filter(self, condition):
                raise LookupError("no filtering here")

        with pytest.raises(LookupError, match="no filtering here"):
            # the base class's filter: the chain is made, the rewriting asks Refusing
            _engine.SearchStrategy.filter(Refusing(), bool).filter(bool).wrapped_strategy
