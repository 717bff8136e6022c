"""The integer size distribution: its CDF, inverse CDF and constants, derived
here from what they mean rather than from the code."""

import math

import pytest

from quorvantis_fast._engine import integers_dist_cdf as cdf
from quorvantis_fast._engine import integers_dist_inverse_cdf as inverse


def t2_cdf(t):
    return 0.5 + t / (2 * math.sqrt(t * t + 2))


# The construction: a uniform centre on [-256, 256] whose density matches the
# tails' at |x| = 256, where log2(|x| + 1) / 13 follows Student-t with df 2.
T0 = math.log2(257) / 13
TAIL_DENSITY_AT_256 = (1 / (2 * math.sqrt(2))) * (1 + T0 * T0 / 2) ** -1.5 / (13 * 257 * math.log(2))
NORM = 1 / (512 * TAIL_DENSITY_AT_256 + 2 * t2_cdf(-T0))
LEFT_MASS = NORM * t2_cdf(-T0)
CENTRE_MASS = NORM * 512 * TAIL_DENSITY_AT_256


def reference_cdf(x):
    s = math.copysign(math.log2(abs(x) + 1), x) / 13
    if x <= -256:
        return NORM * t2_cdf(s)
    if x < 256:
        return LEFT_MASS + CENTRE_MASS * (x + 256) / 512
    return 1 - NORM * t2_cdf(-s)


GRID = [-1e300, -2.0**200, -1e12, -65536.5, -1000.0, -257.0, -256.0, -255.5, -100.0, -0.5, 0.0,
        3.25, 200.0, 255.999, 256.0, 300.0, 10**6, 2.0**64, 1e200, 1.7e308]


class TestCdf:
    def test_masses(self):
        assert LEFT_MASS == pytest.approx(0.4544300216602538, rel=1e-12)
        assert CENTRE_MASS == pytest.approx(0.09113995667949241, rel=1e-12)
        assert cdf(-256.0) == pytest.approx(LEFT_MASS, rel=1e-12)
        assert cdf(0.0) == pytest.approx(LEFT_MASS + CENTRE_MASS / 2, rel=1e-12)
        assert cdf(256.0) == pytest.approx(LEFT_MASS + CENTRE_MASS, rel=1e-12)

    def test_against_reference(self):
        for x in GRID:
            assert cdf(x) == pytest.approx(reference_cdf(x), rel=1e-12, abs=1e-15), x

    def test_monotone_symmetric_and_bounded(self):
        values = [cdf(x) for x in GRID]
        assert values == sorted(values)
        for x in GRID:
            assert cdf(-x) == pytest.approx(1 - cdf(x), abs=1e-15)
        assert 0 < cdf(-1.7e308) < 2e-4
        assert 1 - 2e-4 < cdf(1.7e308) < 1

    def test_density_is_continuous_at_the_centre_edges(self):
        h = 1e-3
        for edge in (-256.0, 256.0):
            left = (cdf(edge) - cdf(edge - h)) / h
            right = (cdf(edge + h) - cdf(edge)) / h
            assert left == pytest.approx(right, rel=1e-4)

    def test_centre_is_linear(self):
        step = cdf(1.0) - cdf(0.0)
        for x in (-250.0, -17.0, 99.0, 254.0):
            assert cdf(x + 1) - cdf(x) == pytest.approx(step, rel=1e-9)

    def test_non_finite_arguments(self):
        for x in (math.inf, -math.inf, math.nan):
            assert math.isnan(cdf(x))


class TestInverseCdf:
    def test_inverts_cdf(self):
        for x in [-1e300, -2.0**100, -70000.0, -257.0, -200.0, 0.0, 17.5, 255.0, 256.0, 1e9, 2.0**500]:
            assert inverse(cdf(x)) == pytest.approx(x, rel=1e-9, abs=1e-9)

    def test_cdf_inverts_it(self):
        # Below about 1.2e-4 (and above 1 - 1.2e-4) the magnitude is capped.
        for u in [0.00013, 0.001, 0.2, LEFT_MASS, 0.47, 0.5, 0.53, 0.6, 0.9, 0.999, 0.99987]:
            assert cdf(inverse(u)) == pytest.approx(u, rel=1e-9)

    def test_centre_block(self):
        assert inverse(LEFT_MASS) == pytest.approx(-256, rel=1e-12)
        assert inverse(LEFT_MASS + 1e-12) == pytest.approx(-256, abs=1e-6)
        us = [LEFT_MASS + CENTRE_MASS * k / 8 for k in range(1, 8)]
        xs = [inverse(u) for u in us]
        assert xs == pytest.approx([-256 + 64 * k for k in range(1, 8)], abs=1e-9)

    def test_tails(self):
        # Magnitudes from 256 up to the cap 2^1023 - 1 (computed as
        # expm1(1023 ln 2), which rounds a hair above 2^1023 but stays finite).
        cap = 2.0**1023 * (1 + 1e-12)
        for u in [0.0, 1e-300, 1e-9, 0.3, LEFT_MASS - 1e-9]:
            x = inverse(u)
            assert -cap <= x <= -256 * (1 - 1e-12)
        for u in [LEFT_MASS + CENTRE_MASS + 1e-9, 0.7, 1 - 1e-9, 1.0]:
            x = inverse(u)
            assert 256 * (1 - 1e-12) <= x <= cap
        assert inverse(0.0) == pytest.approx(-(2.0**1023), rel=1e-12)
        assert inverse(1.0) == pytest.approx(2.0**1023, rel=1e-12)
        assert math.isnan(inverse(math.nan))
