"""The argument checks shared by the constructors, seen through them."""

import collections
import enum
import fractions
import decimal
import math

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument
from qf_testing import assert_stored_error, raises_invalid, run_python, values


class TestSizes:
    def test_bools_are_sizes(self):
        assert all(len(v) >= 1 for v in values(st.lists(st.booleans(), min_size=True, max_size=2)))
        assert values(st.lists(st.booleans(), max_size=False), 20) == [[]] * 20

    @pytest.mark.parametrize(
        "kwargs, message",
        [
            ({"min_size": 1.5}, "min_size=1.5 must be an integer or None"),
            ({"max_size": "3"}, "max_size='3' must be an integer or None"),
            ({"min_size": -1}, "min_size=-1 must be non-negative"),
            ({"max_size": -5}, "max_size=-5 must be non-negative"),
            ({"min_size": 5, "max_size": 3}, "min_size=5 cannot be greater than max_size=3"),
            (
                {"min_size": 8193},
                "Cannot create a lists of min_size=8193: it can never generate an example, "
                "because min_size is larger than the maximum buffer size 8192",
            ),
        ],
    )
    def test_bad_sizes_are_stored(self, kwargs, message):
        assert_stored_error(st.lists(st.booleans(), **kwargs), message)

    def test_largest_min_size_is_accepted(self):
        st.lists(st.booleans(), min_size=8192).validate()

    def test_index_objects_are_sizes(self):
        class Three:
            def __index__(self):
                return 3

        assert all(len(v) == 3 for v in values(st.lists(st.booleans(), min_size=Three(), max_size=3), 20))

    def test_an_index_that_raises_is_a_bad_size(self):
        class Broken:
            def __index__(self):
                raise ZeroDivisionError

            def __repr__(self):
                return "Broken()"

        assert_stored_error(st.lists(st.booleans(), min_size=Broken()), "min_size=Broken() must be an integer or None")

    def test_order_check_comes_before_emptiness(self):
        assert_stored_error(st.lists(st.nothing(), min_size=5, max_size=3),
                            "min_size=5 cannot be greater than max_size=3")

    def test_empty_elements(self):
        st.lists(st.nothing()).validate()
        st.lists(st.nothing(), max_size=0).validate()
        assert_stored_error(
            st.lists(st.nothing(), min_size=1),
            "Cannot create non-empty lists with elements drawn from strategy nothing() because it has no values",
        )
        assert_stored_error(
            st.lists(st.nothing(), max_size=3),
            "Cannot create a lists of max_size=3, because no elements can be drawn from the element "
            "strategy nothing()",
        )


class TestIntegerBounds:
    @pytest.mark.parametrize("bound, expected", [(1.0, 1), (fractions.Fraction(6, 2), 3),
                                                 (decimal.Decimal("-2"), -2), (True, 1)])
    def test_exact_integers_convert(self, bound, expected):
        assert repr(st.integers(bound)) == f"integers(min_value={expected})"

    @pytest.mark.parametrize(
        "bound, message",
        [
            (1.5, "min_value=1.5 of type float cannot be exactly represented as an integer."),
            ("3", "min_value='3' of type str cannot be exactly represented as an integer."),
            (math.nan, "Invalid end point min_value=nan"),
            (decimal.Decimal("NaN"), "Invalid end point min_value=Decimal('NaN')"),
            ("x", "Invalid end point min_value='x'"),
            (math.inf, "Invalid end point min_value=inf"),
        ],
    )
    def test_inexact_bounds_raise_at_once(self, bound, message):
        with raises_invalid(message):
            st.integers(min_value=bound)

    def test_max_value_is_named(self):
        with raises_invalid("max_value=0.5 of type float cannot be exactly represented as an integer."):
            st.integers(0, 0.5)

    def test_failing_comparison_propagates(self):
        class NoCompare:
            def __ne__(self, other):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            st.integers(NoCompare())


class TestFloatBounds:
    def test_not_real(self):
        with raises_invalid("min_value='1' must be a real number."):
            st.floats("1")
        with raises_invalid("max_value=1j must be a real number."):
            st.floats(max_value=1j)

    def test_fraction_becomes_nearest_double(self):
        s = st.floats(fractions.Fraction(1, 3), fractions.Fraction(1, 3))
        assert set(values(s, 20)) == {1 / 3}

    def test_flags_must_be_bools(self):
        with raises_invalid("Expected exclude_min to be a bool, but got 1"):
            st.floats(0, 1, exclude_min=1)
        with raises_invalid("Expected exclude_max to be a bool, but got 'no'"):
            st.floats(0, 1, exclude_max="no")


LIMIT = f"{2**70} must be at most {2**63 - 1}, the largest"


@pytest.mark.parametrize("make, message", [
    (lambda: st.lists(st.none(), max_size=2**70), f"max_size={LIMIT} size supported."),
    (lambda: st.text(min_size=2**70), f"min_size={LIMIT} size supported."),
    (lambda: st.binary(max_size=2**70), f"max_size={LIMIT} size supported."),
    (lambda: st.slices(2**70), f"size={LIMIT} size supported."),
    (lambda: st.floats(-(10**400), 10**400), f"min_value={-(10**400)} must be at least -1.7976931348623157e+308, the smallest float supported."),
])
def test_a_value_beyond_the_native_range_names_the_limit(make, message):
    with raises_invalid(message):
        make().validate()


class Colour(enum.Enum):
    RED = 1
    GREEN = 2


class TestOrderedSample:
    @pytest.mark.parametrize(
        "elements",
        [[1, 2], (1, 2), "ab", range(3), Colour, collections.OrderedDict(a=1, b=2)],
        ids=["list", "tuple", "str", "range", "enum", "ordereddict"],
    )
    def test_ordered_collections_are_accepted(self, elements):
        st.sampled_from(elements).validate()

    @pytest.mark.parametrize(
        "elements, shown",
        [({1, 2}, "{1, 2}"), (frozenset({3}), "frozenset({3})"), ({"a": 1}, "{'a': 1}")],
    )
    def test_unordered_collections_raise_at_once(self, elements, shown):
        with raises_invalid(
            f"Cannot sample from {shown}, not an ordered collection. Quorvantis needs stable results "
            "between runs for the sampled_from strategy, ruling out sets/dicts due to hash "
            "randomization. Use `sorted(values)` for a stable order."
        ):
            st.sampled_from(elements)

    def test_generators_are_rejected(self):
        with pytest.raises(InvalidArgument, match="not an ordered collection"):
            st.sampled_from(x for x in [1])

    def test_a_failing_repr_leaves_the_message_empty(self):
        class Opaque:
            def __repr__(self):
                raise ZeroDivisionError

        with pytest.raises(InvalidArgument, match="^Cannot sample from , not an ordered"):
            st.sampled_from(Opaque())

    def test_numpy_arrays_by_dimension(self):
        numpy = pytest.importorskip("numpy")
        assert set(values(st.sampled_from(numpy.array([4, 5])), 30)) <= {4, 5}
        with raises_invalid(
            "Only one-dimensional arrays are supported for sampling, and you passed a 2-dimensional array."
        ):
            st.sampled_from(numpy.zeros((2, 2)))

    def test_numpy_is_never_imported_for_the_check(self):
        pytest.importorskip("numpy")
        proc = run_python(
            """
            import sys
            from quorvantis_fast import _engine as st
            class Array:  # an object that is not an ordered collection
                pass
            try:
                st.sampled_from(Array())
            except Exception as e:
                print(type(e).__name__)
            print("numpy" in sys.modules)
            """
        )
        assert proc.stdout.split() == ["InvalidArgument", "False"], proc.stderr
