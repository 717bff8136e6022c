import enum
import sys

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument
from qf_testing import INVALID, StopTest, assert_stored_error, draw_or_stop, values


class Shade(enum.Enum):
    DARK = 1
    LIGHT = 2
    PALE = 3


class NoFlags(enum.Flag):
    pass


class Empty(enum.Enum):
    pass


class Annotated(enum.Enum):
    size: int


class TestSampledFrom:
    def test_values_are_the_elements_themselves(self):
        items = [object(), object(), object()]
        got = values(st.sampled_from(items), 100)
        assert {id(v) for v in got} == {id(x) for x in items}

    def test_duplicates_are_kept(self):
        assert set(values(st.sampled_from([1, 1, 2]), 100)) == {1, 2}

    def test_strings_sample_characters(self):
        assert set(values(st.sampled_from("abc"), 100)) == {"a", "b", "c"}

    def test_ranges_sample_their_values(self):
        got = values(st.sampled_from(range(5, 50, 5)), 200)
        assert set(got) == set(range(5, 50, 5))

    def test_empty_range_rejects_when_drawn(self):
        s = st.sampled_from(range(0))
        s.validate()
        value, data = draw_or_stop(s, 0)
        assert value is StopTest and data.status == INVALID

    def test_enum_members(self):
        assert set(values(st.sampled_from(Shade), 100)) == set(Shade)
        assert repr(st.sampled_from(Shade)).startswith("sampled_from([")

    def test_empty_flag_samples_its_zero_value(self):
        try:
            zero = NoFlags(0)
        except TypeError:  # interpreters whose Flag needs members for that
            assert_stored_error(st.sampled_from(NoFlags), "Cannot sample from a length-zero sequence.")
        else:
            assert set(values(st.sampled_from(NoFlags), 20)) == {zero}

    @pytest.mark.parametrize("elements", [[], ()])
    def test_empty_sequences_are_stored_errors(self, elements):
        assert_stored_error(st.sampled_from(elements), "Cannot sample from a length-zero sequence.")

    def test_empty_enum(self):
        assert_stored_error(st.sampled_from(Empty), "Cannot sample from a length-zero sequence.")
        assert_stored_error(
            st.sampled_from(Annotated),
            f"Cannot sample from {__name__}.Annotated because it contains no elements.  It does however "
            "have annotations, so maybe you tried to write an enum as if it was a dataclass?",
        )

    @pytest.mark.parametrize(
        "elements, text",
        [([1, 2], "sampled_from([1, 2])"), ((1,), "sampled_from((1,))"), ((1, 2), "sampled_from((1, 2))"),
         (range(0, 10), "sampled_from(range(0, 10))")],
    )
    def test_repr(self, elements, text):
        assert repr(st.sampled_from(elements)) == text

    def test_iteration_errors_propagate(self):
        class Broken(list):
            def __iter__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            st.sampled_from(Broken([1]))

    def test_strategies_are_returned_not_drawn(self):
        a, b = st.integers(), st.booleans()
        assert {id(v) for v in values(st.sampled_from([a, b]), 50)} == {id(a), id(b)}


class TestOneOf:
    def test_single_branch_is_returned_itself(self):
        s = st.integers()
        assert st.one_of(s) is s
        assert st.one_of([s]) is s

    def test_list_and_arguments_are_equivalent(self):
        a, b = st.integers(0, 3), st.none()
        assert repr(st.one_of([a, b])) == repr(st.one_of(a, b)) == "one_of(integers(0, 3), none())"
        assert set(values(st.one_of(a, b), 200)) == {0, 1, 2, 3, None}

    def test_nested_one_of_stays_one_branch(self):
        inner = st.one_of(st.integers(), st.booleans())
        outer = st.one_of(inner, st.none())
        assert repr(outer) == "one_of(one_of(integers(), booleans()), none())"

    def test_no_branch_is_empty(self):
        s = st.one_of()
        assert s.is_empty
        value, data = draw_or_stop(s, 0)
        assert value is StopTest and data.status == INVALID

    def test_no_strategy_at_all(self):
        with pytest.raises(InvalidArgument, match=r"^Did you mean st\.sampled_from\(\[5\]\)\?$"):
            st.one_of(5)
        with pytest.raises(InvalidArgument, match=r"^Did you mean st\.sampled_from\(\[1, 2\]\)\?$"):
            st.one_of([1, 2])

    def test_a_long_iterable_is_read_only_until_the_first_value_that_is_no_strategy(self):
        def values(head, n=10**5):
            yield from head
            for i in range(n):
                taken.append(i)
                yield i

        taken = []
        with pytest.raises(InvalidArgument, match=r"^Did you mean st\.sampled_from\(\[0, 1, 2, .*, 19, \.\.\.\]\)\?$"):
            st.one_of(values([]))
        assert len(taken) == 21
        taken = []
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 0 \(type=int\)$"):
            st.one_of(values([st.integers()]))
        assert taken == [0]

    def test_some_strategies(self):
        with pytest.raises(InvalidArgument, match=r"^Expected a SearchStrategy but got 5 \(type=int\)$"):
            st.one_of(st.integers(), 5)

    def test_keywords_are_refused(self):
        with pytest.raises(TypeError):
            st.one_of(x=st.integers())


class TestTuples:
    def test_empty(self):
        assert values(st.tuples(), 5) == [()] * 5
        assert repr(st.tuples()) == "tuples()"

    def test_elementwise(self):
        for v in values(st.tuples(st.integers(0, 3), st.booleans(), st.just("x")), 100):
            assert isinstance(v, tuple) and len(v) == 3
            assert 0 <= v[0] <= 3 and isinstance(v[1], bool) and v[2] == "x"

    def test_non_strategy_argument(self):
        with pytest.raises(
            InvalidArgument, match=r"^Expected a SearchStrategy but got tuples\(\) argument=3 \(type=int\)$"
        ):
            st.tuples(st.integers(), 3)

    def test_repr(self):
        assert repr(st.tuples(st.integers(), st.none())) == "tuples(integers(), none())"


class TestValues:
    def test_just_returns_the_object_itself(self):
        marker = object()
        before = sys.getrefcount(marker)
        s = st.just(marker)
        assert all(v is marker for v in values(s, 10))
        assert repr(st.just([1])) == "just([1])"
        del s
        assert sys.getrefcount(marker) == before

    def test_none(self):
        assert values(st.none(), 5) == [None] * 5
        assert repr(st.none()) == "none()"

    def test_nothing_rejects(self):
        s = st.nothing()
        assert s.is_empty and repr(s) == "nothing()"
        value, data = draw_or_stop(s, 0)
        assert value is StopTest and data.status == INVALID
