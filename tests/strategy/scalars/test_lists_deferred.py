import math

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument
from qf_testing import assert_stored_error, values


def test_an_interrupt_while_asking_whether_the_elements_are_empty_is_raised():
    def interrupted():
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        st.lists(st.deferred(interrupted))


class TestLists:
    @pytest.mark.parametrize("lo, hi", [(0, 0), (0, 3), (2, 5), (4, 4), (10, 20)])
    def test_sizes(self, lo, hi):
        got = values(st.lists(st.integers(0, 9), min_size=lo, max_size=hi))
        assert got and all(lo <= len(v) <= hi for v in got)
        assert all(0 <= x <= 9 for v in got for x in v)

    def test_unique_values_are_distinct(self):
        for v in values(st.lists(st.integers(0, 20), unique=True)):
            assert len(set(v)) == len(v)

    def test_small_integer_domain_caps_unique_lists(self):
        s = st.lists(st.integers(0, 3), unique=True)
        assert s.wrapped_strategy.max_size == 4
        full = st.lists(st.integers(0, 3), min_size=4, unique=True)
        assert all(sorted(v) == [0, 1, 2, 3] for v in values(full, 50))
        assert_stored_error(
            st.lists(st.integers(0, 3), min_size=5, unique=True),
            "Cannot create a collection of min_size=5 unique elements with values drawn from only 4 distinct elements",
        )

    def test_wide_integer_range_has_no_cap(self):
        assert st.lists(st.integers(0, 300), unique=True).wrapped_strategy.max_size == math.inf
        assert st.lists(st.integers(0, 255), unique=True).wrapped_strategy.max_size == 256

    def test_sampled_elements_cap_by_stored_values(self):
        assert st.lists(st.sampled_from([1, 1, 2]), unique_by=str).wrapped_strategy.max_size == 3
        assert st.lists(st.sampled_from("ab"), unique=True, max_size=9).wrapped_strategy.max_size == 2

    def test_unique_by_keys(self):
        s = st.lists(st.integers(-5, 5), unique_by=abs)
        for v in values(s):
            assert len({abs(x) for x in v}) == len(v)

    def test_uniqueness_errors(self):
        both = "Cannot pass both unique and unique_by (you probably only want to use unique_by)"
        assert_stored_error(st.lists(st.integers(), unique=True, unique_by=str), both)
        assert_stored_error(st.lists(st.integers(), unique=True, unique_by=5), both)
        for bad in [(), 5, (str, 5)]:
            with pytest.raises(InvalidArgument, match="must be a callable or a"):
                st.lists(st.integers(), unique_by=bad)
        with pytest.raises(TypeError, match="unique"):
            st.lists(st.integers(), unique=None)
        with pytest.raises(TypeError, match="unique"):
            st.lists(st.integers(), unique=1)

    def test_elements_must_be_a_strategy(self):
        with pytest.raises(
            InvalidArgument, match=r"^Expected a SearchStrategy but got lists\(\) elements=\[1\] \(type=list\)$"
        ):
            st.lists([1])

    def test_empty_elements(self):
        assert set(map(len, values(st.lists(st.nothing()), 50))) == {0}
        assert values(st.lists(st.nothing(), max_size=0), 10) == [[]] * 10

    def test_repr_shows_only_the_elements(self):
        assert repr(st.lists(st.booleans(), min_size=2, unique=True)) == "lists(booleans())"

    def test_sizes_are_keyword_only(self):
        with pytest.raises(TypeError):
            st.lists(st.booleans(), 1)


class TestDeferred:
    def test_definition_is_looked_up_at_each_use(self):
        current = [st.just(1)]
        s = st.deferred(lambda: current[0])
        assert values(s, 3) == [1, 1, 1]
        current[0] = st.just(2)
        assert values(s, 3) == [2, 2, 2]

    def test_recursive_definition(self):
        tree = st.deferred(lambda: st.one_of(st.none(), st.lists(tree, max_size=2)))

        def valid(v):
            return v is None or (isinstance(v, list) and all(valid(x) for x in v))

        got = values(tree, 100)
        assert got and all(valid(v) for v in got)

    def test_anything_is_stored(self):
        s = st.deferred(5)
        s.validate()
        with pytest.raises(InvalidArgument, match=r"^deferred\(\) was passed a non-callable definition 5$"):
            values(s, 1)

    def test_definition_returning_a_value(self):
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 5 \(type=int\)$"):
            values(st.deferred(lambda: 5), 1)

    def test_repr(self):
        assert repr(st.deferred(lambda: st.none())) == "SearchStrategy(...)"
