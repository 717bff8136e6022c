"""stdtr and stdtrit against closed forms, numerical integration and each other."""

import math

import pytest

from quorvantis_fast import _engine
from quorvantis_fast._engine import stdtr, stdtrit

TS = [-40.0, -7.5, -2.0, -1.0, -0.3, -1e-9, 1e-9, 0.25, 1.0, 1.7, 3.0, 12.0, 1e6]


def t_density(df, x):
    return math.exp(math.lgamma((df + 1) / 2) - math.lgamma(df / 2) - 0.5 * math.log(df * math.pi)
                    - (df + 1) / 2 * math.log1p(x * x / df))


def integrated_cdf(df, t, n=4000):
    """0.5 plus Simpson's rule for the density from 0 to t."""
    h = t / n
    s = t_density(df, 0.0) + t_density(df, t)
    s += sum((4 if i % 2 else 2) * t_density(df, i * h) for i in range(1, n))
    return 0.5 + s * h / 3


CLOSED_FORMS = {
    1: lambda t: 0.5 + math.atan(t) / math.pi,
    2: lambda t: 0.5 + t / (2 * math.sqrt(t * t + 2)),
    3: lambda t: 0.5 + (math.atan(t / math.sqrt(3)) + (t / math.sqrt(3)) / (1 + t * t / 3)) / math.pi,
    4: lambda t: 0.5 + 3 / 8 * (t / math.sqrt(1 + t * t / 4)) * (1 - t * t / (12 * (1 + t * t / 4))),
}


class TestStdtr:
    @pytest.mark.parametrize("df", sorted(CLOSED_FORMS))
    def test_closed_forms(self, df):
        for t in TS:
            assert stdtr(df, t) == pytest.approx(CLOSED_FORMS[df](t), rel=1e-13, abs=1e-15)

    @pytest.mark.parametrize("df", [5, 6, 7, 10, 31, 64])
    def test_against_integration(self, df):
        for t in (0.1, 1.0, 2.5, 6.0):
            assert stdtr(df, t) == pytest.approx(integrated_cdf(df, t), abs=1e-12)

    def test_large_df_approaches_the_normal_law(self):
        phi = 0.5 * (1 + math.erf(1 / math.sqrt(2)))
        assert stdtr(10**6, 1.0) == pytest.approx(phi, abs=1e-6)
        assert stdtr(10**6 + 1, 1.0) == pytest.approx(phi, abs=1e-6)

    @pytest.mark.parametrize("df", [1, 2, 3, 4, 9, 50])
    def test_centre_symmetry_and_order(self, df):
        assert stdtr(df, 0.0) == 0.5
        for t in TS:
            assert stdtr(df, -t) == pytest.approx(1.0 - stdtr(df, t), abs=2e-16)
        values = [stdtr(df, t) for t in sorted(TS)]
        assert values == sorted(values)
        # The series may overshoot 1 by a rounding step far out in the tails.
        assert all(-1e-15 <= v <= 1.0 + 1e-15 for v in values)

    @pytest.mark.parametrize("df", [2, 4, 10])
    def test_even_df_keeps_its_limit_when_t_squared_overflows(self, df):
        for t in (1e155, 1e200, 1e300, 1.7976931348623157e308):
            assert stdtr(df, t) == 1.0
            assert stdtr(df, -t) == 0.0
        # No step back at the overflow point.
        grid = [1e100, 1e150, 1e154, 1.3e154, 1.4e154, 1e160]
        values = [stdtr(df, t) for t in grid]
        assert values == sorted(values)

    def test_infinite_and_nan_arguments(self):
        assert stdtr(1, math.inf) == 1.0
        assert stdtr(1, -math.inf) == 0.0
        for df in (2, 3, 4):
            assert math.isnan(stdtr(df, math.inf))
            assert math.isnan(stdtr(df, -math.inf))
        for df in (1, 2, 3, 4):
            assert math.isnan(stdtr(df, math.nan))


class TestStdtrit:
    @pytest.mark.parametrize("df", [1, 2, 3, 4, 5, 8, 100, -3, 0])
    def test_median_is_zero(self, df):
        assert stdtrit(df, 0.5) == 0.0

    def test_closed_forms(self):
        for p in (1e-6, 0.01, 0.2, 0.49, 0.51, 0.75, 0.999):
            assert stdtrit(1, p) == pytest.approx(math.tan(math.pi * (p - 0.5)), rel=1e-9)
            assert CLOSED_FORMS[2](stdtrit(2, p)) == pytest.approx(p, rel=1e-12)

    def test_df2_ends_at_infinity(self):
        assert stdtrit(2, 0.0) == -math.inf
        assert stdtrit(2, 1.0) == math.inf

    @pytest.mark.parametrize("df", [1, 2, 3, 4, 5, 7, 10, 30])
    def test_inverts_stdtr(self, df):
        # Far out the round trip is limited by the double nearest the
        # probability: an error of 1e-16 in p moves t by 1e-16 / density.
        for t in (-25.0, -4.0, -1.3, -0.2, 0.05, 0.7, 2.0, 9.0, 40.0):
            slack = 1e-9 * (abs(t) + 1) + 4e-16 / t_density(df, t)
            assert abs(stdtrit(df, stdtr(df, t)) - t) <= slack

    @pytest.mark.parametrize("df", [3, 6])
    def test_monotone_and_antisymmetric(self, df):
        ps = [0.001, 0.02, 0.1, 0.3, 0.45, 0.55, 0.7, 0.9, 0.98, 0.999]
        xs = [stdtrit(df, p) for p in ps]
        assert xs == sorted(xs)
        for p, x in zip(ps, xs):
            assert stdtrit(df, 1 - p) == pytest.approx(-x, rel=1e-9)
            assert stdtr(df, x) == pytest.approx(p, abs=1e-12)

    def test_known_quantile(self):
        # The two-sided 95% point of the t law with 1000 degrees of freedom.
        assert stdtrit(1000, 0.975) == pytest.approx(1.962339, abs=1e-6)

    def test_out_of_domain_arguments_finish(self):
        for df, p in [(3, 0.0), (3, 1.0), (5, -0.5), (4, 1.5), (3, math.nan), (0, 0.7), (-4, 0.7)]:
            assert isinstance(stdtrit(df, p), float)


class TestArguments:
    def test_keywords_and_number_protocols(self):
        class Index:
            def __index__(self):
                return 3

        class Real:
            def __float__(self):
                return 1.25

        assert stdtr(df=3, t=1.25) == stdtr(3, 1.25) == stdtr(Index(), Real())
        assert stdtr(2, 1) == stdtr(2, 1.0)
        assert stdtrit(p=0.9, df=4) == stdtrit(4, 0.9)
        assert _engine.integers_dist_cdf(x=3) == _engine.integers_dist_cdf(3.0)
        assert _engine.integers_dist_inverse_cdf(u=0.25) == _engine.integers_dist_inverse_cdf(0.25)

    @pytest.mark.parametrize("call,name", [
        (lambda: stdtr(1.5, 1.0), "df"),
        (lambda: stdtr("2", 1.0), "df"),
        (lambda: stdtr(2, "1"), "t"),
        (lambda: stdtrit(2, None), "p"),
        (lambda: _engine.integers_dist_cdf([]), "x"),
        (lambda: _engine.integers_dist_inverse_cdf(b"0.5"), "u"),
    ])
    def test_conversion_type_errors_name_the_argument(self, call, name):
        with pytest.raises(TypeError, match=rf"^argument '{name}': \S"):
            call()

    @pytest.mark.parametrize("call", [
        lambda: stdtr(2**63, 1.0),
        lambda: stdtrit(-(2**64), 0.3),
        lambda: stdtr(2, 10**400),
        lambda: _engine.integers_dist_cdf(10**400),
    ])
    def test_overflow_passes_unchanged(self, call):
        with pytest.raises(OverflowError) as info:
            call()
        assert "argument" not in str(info.value)

    def test_df_overflow_is_the_c_long_conversion_error(self):
        with pytest.raises(OverflowError, match="^Python int too large to convert to C long$"):
            stdtr(2**63, 1.0)

    @pytest.mark.parametrize("call", [
        lambda: stdtr(2),
        lambda: stdtr(2, 1.0, 3),
        lambda: stdtr(2, t=1.0, z=3),
        lambda: stdtrit(2, 0.3, p=0.3),
        lambda: _engine.integers_dist_cdf(),
    ])
    def test_signature_errors(self, call):
        with pytest.raises(TypeError):
            call()

    def test_registered_together_in_order(self):
        names = ["stdtr", "stdtrit", "integers_dist_cdf", "integers_dist_inverse_cdf"]
        start = _engine.__all__.index("stdtr")
        assert _engine.__all__[start:start + 4] == names
        for name in names:
            assert getattr(_engine, name).__module__ == "quorvantis_fast._engine"


def test_enormous_df_is_refused_rather_than_hanging():
    import pytest

    from quorvantis_fast import _engine

    for f, v in ((_engine.stdtr, 1.0), (_engine.stdtrit, 0.7)):
        with pytest.raises(ValueError, match="too large"):
            f(2**62, v)
        with pytest.raises(ValueError, match="too large"):
            f(2**31, v)
