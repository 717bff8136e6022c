import decimal
import math
from decimal import Decimal
from fractions import Fraction

import pytest

from quorvantis_fast import _engine as st
from qf_testing import INVALID, StopTest, raises_invalid, replay_prefix, values


class TestFractions:
    def test_values_within_bounds_and_denominator(self):
        got = values(st.fractions(Fraction(-1, 3), 2, max_denominator=7))
        assert got
        for v in got:
            assert isinstance(v, Fraction)
            assert Fraction(-1, 3) <= v <= 2 and v.denominator <= 7

    def test_unbounded_uses_the_default_denominator_limit(self):
        assert all(v.denominator <= 65536 for v in values(st.fractions()))

    def test_one_sided(self):
        assert all(v >= Fraction(1, 2) for v in values(st.fractions(min_value=Fraction(1, 2))))
        assert all(v <= -5 for v in values(st.fractions(max_value=-5)))

    def test_bounds_accept_anything_fraction_accepts(self):
        got = values(st.fractions("1/4", Decimal("0.25")))
        assert got and set(got) == {Fraction(1, 4)}

    def test_no_numerator_between_scaled_bounds_rejects_the_test_case(self):
        s = st.fractions(Fraction(1, 3), Fraction(1, 3))
        value, data = replay_prefix(s, [2])  # denominator 2: ceil(2/3) > floor(2/3)
        assert value is StopTest and data.status == INVALID
        value, _ = replay_prefix(s, [6, 2])
        assert value == Fraction(1, 3)

    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            ((), {"max_denominator": 0}, "max_denominator=0 must be >= 1, but the smallest valid denominator is 1."),
            ((), {"max_denominator": 2.0}, "max_denominator=2.0 must be an integer."),
            ((), {"max_denominator": 2**63},
             f"max_denominator={2**63} must be at most {2**63 - 1}, the largest denominator supported."),
            ((), {"max_denominator": -(2**64)},
             f"max_denominator={-(2**64)} must be >= 1, but the smallest valid denominator is 1."),
            (("x",), {}, "Cannot convert min_value='x' to a Fraction."),
            ((0, math.nan), {}, "Cannot convert max_value=nan to a Fraction."),
            ((Fraction(1, 3),), {"max_denominator": 2},
             "The min_value=Fraction(1, 3) has a denominator greater than the max_denominator=2"),
            ((1, 0.5), {}, "min_value=Fraction(1, 1) cannot be greater than max_value=Fraction(1, 2)"),
        ],
    )
    def test_errors_raise_at_once(self, args, kwargs, message):
        with raises_invalid(message):
            st.fractions(*args, **kwargs)

    def test_repr(self):
        assert repr(st.fractions(0, 1, max_denominator=3)) == "fractions()"


def test_numpy_integer_bounds_are_scaled_as_python_ints():
    np = pytest.importorskip("numpy")  # whose products wrap in 64 or 16 bits
    for strategy, lo, hi in [
        (st.decimals(np.int64(10**7), np.int64(10**7 + 1), places=12), 10**7, 10**7 + 1),
        (st.fractions(np.int64(10**15), np.int64(10**15 + 1)), 10**15, 10**15 + 1),
        (st.fractions(np.int16(3), np.int16(4), max_denominator=20000), 3, 4),
    ]:
        got = values(strategy, 300)
        assert len(got) == 300 and all(lo <= v <= hi for v in got)


class TestDecimals:
    @pytest.mark.parametrize("places, exponent", [(None, -3), (2, -2), (0, 0), (-1, 0), (20, -12)])
    def test_places(self, places, exponent):
        scale = Decimal(10) ** exponent
        for v in values(st.decimals(-10, 10, places=places)):
            assert isinstance(v, Decimal) and v.is_finite()
            assert v == v.quantize(scale) and -10 <= v <= 10

    def test_bounds_of_any_numeric_type(self):
        for v in values(st.decimals(Fraction(1, 3), 0.75)):
            assert Fraction(1, 3) <= v <= Fraction(3, 4)

    def test_values_stay_within_bounds_beyond_the_context_precision(self):
        # Forty significant digits: more than the default context keeps.
        lo = Decimal("1234567890123456789012345678901234567.891")
        s = st.decimals(lo, lo + Decimal("0.002"))
        for v in values(s, 50):
            assert lo <= v <= lo + Decimal("0.002")
        with decimal.localcontext() as ctx:
            ctx.prec = 5
            got = values(s, 50)
        assert got and all(lo <= v <= lo + Decimal("0.002") for v in got)

    def test_no_scaled_value_between_bounds_rejects(self):
        value, data = replay_prefix(st.decimals(Decimal("0.0001"), Decimal("0.0002")), [])
        assert value is StopTest and data.status == INVALID

    def test_unconvertible_bound_fails_at_draw(self):
        s = st.decimals(min_value="x")
        s.validate()
        with pytest.raises(ValueError):
            replay_prefix(s, [0])

    def test_flags_and_places_are_checked_when_called(self):
        st.decimals(allow_nan=False, allow_infinity=True)
        with pytest.raises(TypeError, match="allow_nan"):
            st.decimals(allow_nan=1)
        with pytest.raises(TypeError, match="places"):
            st.decimals(places=1.5)
        with pytest.raises(OverflowError):
            st.decimals(places=2**40)

    def test_repr(self):
        assert repr(st.decimals(0, 1, places=2)) == "decimals()"


class TestSlices:
    @pytest.mark.parametrize("size", [1, 2, 5, 100])
    def test_slices_fit_the_size(self, size):
        items = list(range(size))
        for s in values(st.slices(size), 300):
            assert isinstance(s, slice)
            assert s.start is None or -size <= s.start < size
            assert s.stop is None or -size <= s.stop <= size
            assert s.step is None or s.step != 0
            items[s]  # a valid slice of a list of that size

    def test_size_zero(self):
        got = values(st.slices(0), 200)
        assert slice(None) in got
        for s in got:
            assert s.start is None and s.stop is None and s.step != 0

    def test_step_direction_follows_start_and_stop(self):
        for s in values(st.slices(10), 300):
            start, stop = s.start, s.stop
            if start is not None and stop is not None and start >= 0 and stop >= 0 and start != stop:
                assert (s.step or 1) > 0 if start < stop else (s.step or 1) < 0

    @pytest.mark.parametrize("size", [-1, 1.0, None, "3"])
    def test_bad_size(self, size):
        with raises_invalid(f"Expected size to be a non-negative integer, but got {size!r}"):
            st.slices(size)

    def test_repr(self):
        assert repr(st.slices(3)) == "SearchStrategy(...)"
