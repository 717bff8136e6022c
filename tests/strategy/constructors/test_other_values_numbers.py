"""complex_numbers() and recursive()."""

import cmath
import math
import struct
import warnings

import pytest
from qf_testing import draws

from quorvantis_fast import _engine
from quorvantis_fast.errors import InvalidArgument, QuorvantisWarning

st = _engine


def fits(x, fmt):
    """Is the float exactly representable in the struct format ('e' or 'f')?"""
    try:
        return struct.unpack(fmt, struct.pack(fmt, x))[0] == x or math.isnan(x)
    except OverflowError:
        return False


def parts(z):
    return (z.real, z.imag)


class TestComplexNumbers:
    def test_nan_and_infinity_flags(self):
        def nan_and_inf(values):
            found = [p for z in values for p in parts(z)]
            return any(map(math.isnan, found)), any(map(math.isinf, found))

        assert nan_and_inf(draws(st.complex_numbers(), 500)) == (True, True)
        assert nan_and_inf(draws(st.complex_numbers(allow_nan=False), 500)) == (False, True)
        assert nan_and_inf(draws(st.complex_numbers(allow_infinity=False), 500)) == (True, False)

    @pytest.mark.parametrize(
        "lo, hi, width",
        [(0, 1, 128), (1, 1, 128), (2.5, 1e10, 128), (0, 1e308 * 1.7, 128), (1e-300, 2e-300, 128),
         (0.5, 3, 64), (0, 0.01, 32), (100, None, 128), (None, 0, 128)],
    )
    def test_magnitudes_lie_within_their_bounds(self, lo, hi, width):
        s = st.complex_numbers(min_magnitude=lo, max_magnitude=hi, width=width)
        values = draws(s, 300, stop_ok=True)
        assert len(values) > 250
        for z in values:
            assert not cmath.isnan(z)
            assert (lo or 0) <= abs(z)
            if hi is not None:
                assert abs(z) <= hi and not cmath.isinf(z)

    @pytest.mark.parametrize("width, fmt", [(64, "f"), (32, "e")])
    def test_parts_fit_the_width(self, width, fmt):
        for s in (st.complex_numbers(width=width), st.complex_numbers(width=width, min_magnitude=0.3, max_magnitude=7)):
            for z in draws(s, 200, stop_ok=True):
                assert fits(z.real, fmt) and fits(z.imag, fmt), z

    def test_argument_errors(self):
        def message(**kwargs):
            with pytest.raises(InvalidArgument) as e:
                st.complex_numbers(**kwargs)
            return str(e.value)

        assert message(min_magnitude="1") == "min_magnitude='1' must be a real number."
        assert message(max_magnitude=-1) == "max_magnitude=-1 must be non-negative"
        assert message(max_magnitude=math.nan) == "max_magnitude=nan must be non-negative"
        assert message(min_magnitude=math.inf) == "min_magnitude=inf must be finite"
        assert message(min_magnitude=3, max_magnitude=2) == "min_magnitude=3 cannot be greater than max_magnitude=2"
        assert message(width=16) == "width=16 must be 32, 64 or 128"
        assert message(max_magnitude=2, allow_infinity=True) == (
            "Cannot have allow_infinity=True with max_magnitude=2.0"
        )
        assert message(min_magnitude=1, allow_nan=True) == (
            "Cannot have allow_nan=True with min_magnitude=1.0 and max_magnitude=None"
        )

    def test_flag_and_width_conversions(self):
        with pytest.raises(TypeError, match="allow_nan"):
            st.complex_numbers(allow_nan=1)
        with pytest.raises(TypeError, match="allow_infinity"):
            st.complex_numbers(allow_infinity="yes")
        with pytest.raises(TypeError, match="width"):
            st.complex_numbers(width=None)
        with pytest.raises(OverflowError):
            st.complex_numbers(width=-1)


def nesting(value):
    depth = 0
    while isinstance(value, list):
        (value,) = value
        depth += 1
    return depth


class TestRecursive:
    @pytest.mark.parametrize("kwargs, levels", [({}, 6), ({"max_leaves": 50}, 6), ({"max_leaves": 0}, 1),
                                                ({"max_leaves": 2}, 1), ({"max_leaves": 64}, 6),
                                                ({"max_leaves": 65}, 7)])
    def test_extend_is_applied_once_per_level(self, kwargs, levels):
        calls = []

        def extend(s):
            calls.append(s)
            return st.builds(lambda x: [x], s)

        base = st.uuids()
        s = st.recursive(base, extend, **kwargs)
        assert len(calls) == levels
        assert calls[0] is base
        values = draws(s, 300)
        assert max(map(nesting, values)) <= levels
        assert min(map(nesting, values)) == 0

    def test_max_leaves_must_be_a_count(self):
        with pytest.raises(TypeError, match="max_leaves"):
            st.recursive(st.uuids(), lambda s: s, max_leaves=None)
        with pytest.raises(OverflowError):
            st.recursive(st.uuids(), lambda s: s, max_leaves=-1)

    def test_an_identity_extend_warns(self):
        with pytest.warns(QuorvantisWarning, match=r"extend=lambda x: x is a no-op"):
            st.recursive(st.uuids(), lambda x: x, max_leaves=2)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(QuorvantisWarning):
                st.recursive(st.uuids(), lambda x: x)

    def test_errors_of_extend_pass_unchanged(self):
        with pytest.raises(LookupError):
            st.recursive(st.uuids(), {}.__getitem__)
