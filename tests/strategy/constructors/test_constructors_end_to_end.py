"""Whole runs over trees of these strategies find and shrink planted bugs."""

from decimal import Decimal

import pytest

from quorvantis_fast import _engine as st


def minimal(strategies, test, seed=0):
    """The arguments of the one failure the run reports."""
    failures = st.run_native(test, strategies, max_examples=300, seed=seed)
    assert failures is not None, "the planted bug was not found"
    ((args, error),) = failures
    assert isinstance(error, AssertionError)
    return args


@pytest.mark.parametrize("seed", [0, 1, 2])
class TestShrinksToTheKnownMinimum:
    def test_list_of_integers(self, seed):
        def no_element_from_10(xs):
            assert all(x < 10 for x in xs)

        assert minimal([st.lists(st.integers())], no_element_from_10, seed) == ([10],)

    def test_lists_of_tuples_of_one_of(self, seed):
        def no_big_flagged_pair(pairs):
            assert not any(a is not None and a > 50 and flag for a, flag in pairs)

        s = st.lists(st.tuples(st.one_of(st.integers(0, 100), st.none()), st.booleans()))
        assert minimal([s], no_big_flagged_pair, seed) == ([(51, True)],)

    def test_filtered_sampled_values(self, seed):
        def below_20(x):
            assert x < 20

        s = st.sampled_from(range(100)).filter(lambda x: x % 2 == 0)
        assert minimal([s], below_20, seed) == (20,)

    def test_decimals(self, seed):
        def below_5(x):
            assert x < 5

        assert minimal([st.decimals(0, 10)], below_5, seed) == (Decimal(5),)

    def test_one_of_branches(self, seed):
        def not_a_bool(x):
            assert not isinstance(x, bool)

        assert minimal([st.one_of(st.integers(), st.booleans())], not_a_bool, seed) == (False,)

    def test_several_arguments(self, seed):
        def ordered(a, b):
            assert a <= b

        assert minimal([st.integers(0, 1000), st.integers(0, 1000)], ordered, seed) == (1, 0)


class TestFinds:
    def test_floats_above_a_threshold(self):
        def at_most(x):
            assert x <= 1.5

        (x,) = minimal([st.floats(0, 10)], at_most)
        assert 1.5 < x <= 10

    def test_negative_slice_steps(self):
        def forwards(s):
            assert s.step is None or s.step > 0

        (s,) = minimal([st.slices(10)], forwards)
        assert s.step < 0

    def test_passing_tests_report_nothing(self):
        def in_bounds(xs, frac):
            assert all(0 <= x <= 3 for x in xs) and 0 <= frac <= 1

        assert st.run_native(in_bounds, [st.lists(st.integers(0, 3), unique=True), st.fractions(0, 1)],
                             max_examples=100) is None
