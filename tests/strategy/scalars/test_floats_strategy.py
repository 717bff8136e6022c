import math
import struct

import pytest

from quorvantis_fast import _engine as st
from quorvantis_fast.errors import InvalidArgument
from qf_testing import assert_stored_error, raises_invalid, random_record as record, values

SN64 = 2.2250738585072014e-308


def drawn_constraints(strategy):
    """The constraints of the float choice that drawing the strategy makes."""
    data = record(0)
    data.draw(strategy)
    (node,) = data.nodes
    return node.constraints


class TestResolvedNode:
    def test_unbounded(self):
        c = drawn_constraints(st.floats())
        assert (c["min_value"], c["max_value"]) == (-math.inf, math.inf)
        assert c["allow_nan"] is True
        assert c["smallest_nonzero_magnitude"] == 5e-324

    def test_both_bounds_exclude_nan_and_infinity(self):
        c = drawn_constraints(st.floats(0, 1))
        assert (c["min_value"], c["max_value"], c["allow_nan"]) == (0.0, 1.0, False)

    def test_one_bound_keeps_infinity(self):
        c = drawn_constraints(st.floats(min_value=0))
        assert (c["max_value"], c["allow_nan"]) == (math.inf, False)
        c = drawn_constraints(st.floats(min_value=-math.inf))
        assert (c["min_value"], c["allow_nan"]) == (-math.inf, False)

    def test_no_infinity_bounds_at_the_largest_finite(self):
        c = drawn_constraints(st.floats(0, allow_infinity=False))
        assert c["max_value"] == 1.7976931348623157e308
        c = drawn_constraints(st.floats(width=16, allow_infinity=False, allow_nan=False))
        assert (c["min_value"], c["max_value"]) == (-65504.0, 65504.0)

    def test_subnormals_follow_the_range(self):
        assert drawn_constraints(st.floats(1, 2))["smallest_nonzero_magnitude"] == SN64
        assert drawn_constraints(st.floats(0, 1))["smallest_nonzero_magnitude"] == 5e-324
        assert drawn_constraints(st.floats(0, 1, allow_subnormal=True))["smallest_nonzero_magnitude"] == 5e-324
        assert drawn_constraints(st.floats(allow_subnormal=False))["smallest_nonzero_magnitude"] == SN64
        assert drawn_constraints(st.floats(width=32, max_value=-1.0))["smallest_nonzero_magnitude"] == 2.0**-126

    def test_excluded_bounds_step_to_the_next_float(self):
        c = drawn_constraints(st.floats(0, 1, exclude_min=True, exclude_max=True))
        assert (c["min_value"], c["max_value"]) == (5e-324, math.nextafter(1.0, 0))
        c = drawn_constraints(st.floats(1, 2, width=16, exclude_min=True))
        assert c["min_value"] == 1 + 2.0**-10

    def test_truthy_flags_are_accepted(self):
        assert drawn_constraints(st.floats(allow_nan=1))["allow_nan"] is True


class TestValues:
    @pytest.mark.parametrize("width", [16, 32, 64])
    def test_within_bounds_and_representable(self, width):
        fmt = {16: "e", 32: "f", 64: "d"}[width]
        for v in values(st.floats(-2.5, 1e4, width=width), 300):
            assert -2.5 <= v <= 1e4
            assert struct.unpack(fmt, struct.pack(fmt, v))[0] == v

    def test_width_16_stays_finite_inside_its_range(self):
        for v in values(st.floats(width=16), 300):
            assert math.isnan(v) or math.isinf(v) or -65504.0 <= v <= 65504.0

    def test_excluded_bounds_are_never_drawn(self):
        got = values(st.floats(0, 1, exclude_min=True, exclude_max=True), 300)
        assert got and all(0 < v < 1 for v in got)

    def test_no_subnormals_when_excluded(self):
        got = values(st.floats(-1e-300, 1e-300, allow_subnormal=False), 300)
        assert got and all(v == 0 or abs(v) >= SN64 for v in got)


class TestStoredErrors:
    @pytest.mark.parametrize(
        "kwargs, message",
        [
            ({"width": 8}, "Got width=8, but the only valid values are the integers 16, 32, and 64."),
            ({"min_value": math.nan}, "min_value=nan is not a valid float bound (cannot be NaN)"),
            ({"max_value": math.nan}, "max_value=nan is not a valid float bound (cannot be NaN)"),
            ({"width": 32, "min_value": 0.1},
             "min_value=0.1 cannot be exactly represented as a float of width 32 - use "
             "min_value=0.10000000149011612 instead."),
            ({"width": 16, "max_value": 1.1},
             "max_value=1.1 cannot be exactly represented as a float of width 16 - use max_value=1.099609375 instead."),
            ({"min_value": 0, "allow_nan": True}, "Cannot have allow_nan=True, with min_value or max_value"),
            ({"exclude_min": True}, "Cannot exclude min_value=None"),
            ({"min_value": math.inf, "exclude_min": True}, "Cannot exclude min_value=inf"),
            ({"max_value": -math.inf, "exclude_max": True}, "Cannot exclude max_value=-inf"),
            ({"min_value": 0.0, "max_value": -0.0},
             "There are no 64-bit floating-point values between min_value=0.0 and max_value=-0.0"),
            ({"min_value": 1, "max_value": 1, "exclude_min": True},
             "There are no 64-bit floating-point values between min_value=1.0 and max_value=1.0, "
             "exclude_min=True and exclude_max=False"),
            ({"min_value": math.inf, "allow_infinity": False}, "allow_infinity=False excludes min_value=inf"),
            ({"max_value": -math.inf, "allow_infinity": False}, "allow_infinity=False excludes max_value=-inf"),
            ({"min_value": 1.7976931348623157e308, "exclude_min": True, "allow_infinity": False},
             "exclude_min=True turns min_value=1.7976931348623157e+308 into inf, but allow_infinity=False"),
            ({"max_value": -65504.0, "exclude_max": True, "allow_infinity": False, "width": 16},
             "exclude_max=True turns max_value=-65504.0 into -inf, but allow_infinity=False"),
            ({"min_value": 0, "max_value": 1, "allow_infinity": True},
             "Cannot have allow_infinity=True, with both min_value and max_value"),
            ({"min_value": 1, "max_value": 2, "allow_subnormal": True},
             "allow_subnormal=True, but minimum value 1.0 excludes values below float64's smallest positive "
             "normal 2.2250738585072014e-308"),
            ({"max_value": -1, "allow_subnormal": True, "width": 32},
             "allow_subnormal=True, but maximum value -1.0 excludes values above float32's smallest negative "
             "normal -1.1754943508222875e-38"),
        ],
    )
    def test_message(self, kwargs, message):
        assert_stored_error(st.floats(**kwargs), message)

    def test_first_failure_wins(self):
        assert_stored_error(st.floats(math.nan, width=8),
                            "Got width=8, but the only valid values are the integers 16, 32, and 64.")

    def test_signed_zeros_in_order_are_fine(self):
        assert set(map(str, values(st.floats(-0.0, 0.0), 100))) <= {"0.0", "-0.0"}

    def test_range_of_only_subnormals_without_subnormals(self):
        # Every value of the range is subnormal, so excluding subnormals
        # leaves nothing to draw.
        s = st.floats(1e-310, 2e-310, allow_subnormal=False)
        with pytest.raises(InvalidArgument, match="allow_subnormal=False, but every value between "
                                                  "min_value=1e-310 and max_value=2e-310 is subnormal"):
            s.validate()
        st.floats(0.0, 1e-310, allow_subnormal=False).validate()  # zero remains
        st.floats(-1.0, -1e-310, allow_subnormal=False).validate()  # normals remain
        with pytest.raises(InvalidArgument, match="exclude_min=True and exclude_max=False is subnormal"):
            st.floats(0.0, 1e-310, exclude_min=True, allow_subnormal=False).validate()


class TestEagerErrors:
    def test_width_must_convert(self):
        with pytest.raises(TypeError, match="width"):
            st.floats(width=None)
        with pytest.raises(OverflowError):
            st.floats(width=-1)

    def test_bounds_out_of_range_of_the_width(self):
        with raises_invalid("max_value=10000000000.0 must be at most 65504.0, the largest float of width 16 supported."):
            st.floats(width=16, max_value=1e10)
        with raises_invalid("min_value=-1e+39 must be at least -3.4028234663852886e+38, the smallest float of width 32 supported."):
            st.floats(width=32, min_value=-1e39)
        st.floats(width=16, max_value=math.inf).validate()

    def test_truth_test_errors_propagate(self):
        class NoTruth:
            def __bool__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            st.floats(allow_nan=NoTruth())

    def test_bounds_are_positional_but_flags_are_keyword_only(self):
        with pytest.raises(TypeError, match="positional"):
            st.floats(0, 1, False)


def test_repr_is_fixed():
    assert repr(st.floats(0.0, 1.0, width=32)) == "floats()"
