import pytest

from quorvantis_fast import _engine as st
from qf_testing import assert_stored_error, values


class TestIntegers:
    @pytest.mark.parametrize("lo, hi", [(0, 0), (-3, 3), (0, 10**30), (-(2**70), -(2**69)), (5, 200)])
    def test_values_within_bounds(self, lo, hi):
        got = values(st.integers(lo, hi))
        assert got and all(lo <= v <= hi and type(v) is int for v in got)

    def test_one_sided_bounds(self):
        assert all(v >= 10**20 for v in values(st.integers(min_value=10**20)))
        assert all(v <= -7 for v in values(st.integers(max_value=-7)))

    def test_small_range_is_covered(self):
        assert set(values(st.integers(-2, 2))) == {-2, -1, 0, 1, 2}

    def test_crossed_bounds_are_stored(self):
        assert_stored_error(st.integers(5, 1), "min_value=5 cannot be greater than max_value=1")
        assert_stored_error(st.integers(-1, -(10**25)),
                            f"min_value=-1 cannot be greater than max_value={-(10**25)}")

    @pytest.mark.parametrize(
        "strategy, text",
        [
            (st.integers(), "integers()"),
            (st.integers(min_value=5), "integers(min_value=5)"),
            (st.integers(max_value=-3), "integers(max_value=-3)"),
            (st.integers(5, 9), "integers(5, 9)"),
            (st.integers(1.0, 2), "integers(1, 2)"),
        ],
    )
    def test_repr(self, strategy, text):
        assert repr(strategy) == text

    def test_bounds_are_seen_by_the_typed_view(self):
        view = st.integers(max_value=4).wrapped_strategy
        assert (view.start, view.end) == (None, 4)


class TestBooleans:
    def test_both_values(self):
        assert set(values(st.booleans(), 100)) == {False, True}

    def test_repr_and_arguments(self):
        assert repr(st.booleans()) == "booleans()"
        with pytest.raises(TypeError):
            st.booleans(True)
